#include <math.h>

#define iff(cond,e1,e2) ((cond) ? (e1) : (e2))
#define sqr(x) ((x)*(x))
#define cube(x) ((x)*(x)*(x))

#define dersub2(i,j) ((i)+(((j)*((j)+1))>>1))
#define dersub3(i,j,k) ((i)+(((j)*((j)+1))>>1)+(k)*((k)+1)*((k)+2)/6)
#define dersub4(i,j,k,l) dersub3(i,j,k)+(l)*((l)+1)*((l)+2)*((l)+3)/24
#define dersub5(i,j,k,l,m) dersub4(i,j,k,l)+(m)*((m)+1)*((m)+2)*((m)+3)*((m)+4)/120

#define FALSE 0
#define TRUE  1
