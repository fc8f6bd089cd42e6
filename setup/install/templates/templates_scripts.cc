/*
 * templates_scripts.cc - the templates of the files that a Full
 * installation writes beside the settings: the compile scripts for the csh
 * and ksh shell styles, the system header that users' models include, and
 * the palette file of every installation.
 *
 * The compile scripts and the header are written with each line expanded
 * through the settings, so their $(Section.KEY) references take the values
 * that the installation has just stored.  A line holding the empty mark "`"
 * alone becomes an empty line; a truly empty line cannot be used, because
 * the settings treat an empty value as missing.  The first line of each
 * compile script is only a placeholder: the writer replaces it by "#! "
 * and the shell path from the form.
 */
#include "templates.h"

// Run as: script source-base target-base y|n.  Builds target.so from
// source.c; with "y" it first rebuilds and runs the derivative generator
// tmp_der and the external differentiator, then compiles the model again.
constexpr const char *const CompileRhs[] = {
    "#! /bin/csh -f                                                                  ",
    "unset noclobber",
    "cc -c -O2 -fPIC -o delete$(Extensions.OBJ) $(Compiler.INCLUDE) $1$(Extensions.C) >&$(Compiler.LOGFILE)",
    "cc -shared -Wl,-soname,$2.so -o $2$(Extensions.LIB) delete$(Extensions.OBJ) $(Compiler.LIB) >>&$(Compiler.LOGFILE)",
    "if ( $3 == 'y' ) then",
    " if ( -r $2$(Extensions.LIB) ) then",
    "  if ( -r tmp_der ) then",
    "   rm -f tmp_der tmp_fun$(Extensions.C) tmp_fun1$(Extensions.H)",
    "  endif",
    "  $(Compiler.CPPNAME)  -o tmp_der $(Compiler.INCLUDE) tmp_der$(Extensions.CPP) $(Paths.KERNEL)autodif$(Extensions.OBJ) $(Compiler.CPPLIB) >&$(Compiler.LOGFILE)1",
    "  if ( -r tmp_der ) then",
    "   ./tmp_der >>&$(Compiler.LOGFILE)1",
    "   if ( -r $(Compiler.EXTDIFFB) ) then",
    "     $(Compiler.EXTDIFFB)",
    "   endif",
    "  endif",
    "  cc -c -O2 -fPIC -o delete$(Extensions.OBJ) $(Compiler.INCLUDE) $1$(Extensions.C) >&$(Compiler.LOGFILE)",
    "  cc -shared -Wl,-soname,$2.so -o $2$(Extensions.LIB) delete$(Extensions.OBJ) $(Compiler.LIB) >>&$(Compiler.LOGFILE)",
    " endif",
    "endif",
    "rm -f delete$(Extensions.OBJ)",
    nullptr,
};
constexpr std::size_t kCompileRhsLines = TemplateLines(CompileRhs);

// The same script in Bourne/Korn shell syntax.
constexpr const char *const CompileRhsKsh[] = {
    "#! /bin/bash                                                                    ",
    "unset noclobber",
    "cc -c -O2 -fPIC -o delete$(Extensions.OBJ) $(Compiler.INCLUDE) $1$(Extensions.C) >$(Compiler.LOGFILE) 2>&1",
    "cc -shared -Wl,-soname,$2.so -o $2$(Extensions.LIB) delete$(Extensions.OBJ) $(Compiler.LIB) >>$(Compiler.LOGFILE) 2>&1",
    "if [ $3 = 'y' ]; then",
    " if [ -r $2$(Extensions.LIB) ]; then",
    "  if [ -r tmp_der ]; then",
    "   rm -f tmp_der tmp_fun$(Extensions.C) tmp_fun1$(Extensions.H)",
    "  fi",
    "  $(Compiler.CPPNAME)  -o tmp_der $(Compiler.INCLUDE) tmp_der$(Extensions.CPP) $(Paths.KERNEL)autodif$(Extensions.OBJ) $(Compiler.CPPLIB) >$(Compiler.LOGFILE)1 2>&1",
    "  if [ -r tmp_der ]; then",
    "   ./tmp_der >>$(Compiler.LOGFILE)1 2>&1",
    "   if [ -r $(Compiler.EXTDIFFB) ]; then",
    "     $(Compiler.EXTDIFFB)",
    "   fi",
    "  fi",
    "  cc -c -O2 -fPIC -o delete$(Extensions.OBJ) $(Compiler.INCLUDE) $1$(Extensions.C) >$(Compiler.LOGFILE) 2>&1",
    "  cc -shared -Wl,-soname,$2.so -o $2$(Extensions.LIB) delete$(Extensions.OBJ) $(Compiler.LIB) >>$(Compiler.LOGFILE) 2>&1",
    " fi",
    "fi",
    "rm -f delete$(Extensions.OBJ)",
    nullptr,
};
static_assert(TemplateLines(CompileRhsKsh) == TemplateLines(CompileRhs),
              "both compile scripts have the same lines");

// The system header: helper macros for users' models.  The dersub macros
// give the packed index of a derivative for index tuples of length 2 to 5.
constexpr const char *const IncludeRhs[] = {
    "#include <math.h>",
    "`",
    "#define iff(cond,e1,e2) ((cond) ? (e1) : (e2))",
    "#define sqr(x) ((x)*(x))",
    "#define cube(x) ((x)*(x)*(x))",
    "`",
    "#define dersub2(i,j) ((i)+(((j)*((j)+1))>>1))",
    "#define dersub3(i,j,k) ((i)+(((j)*((j)+1))>>1)+(k)*((k)+1)*((k)+2)/6)",
    "#define dersub4(i,j,k,l) dersub3(i,j,k)+(l)*((l)+1)*((l)+2)*((l)+3)/24",
    "#define dersub5(i,j,k,l,m) dersub4(i,j,k,l)+(m)*((m)+1)*((m)+2)*((m)+3)*((m)+4)/120",
    "`",
    "#define FALSE 0",
    "#define TRUE  1",
    nullptr,
};
constexpr std::size_t kIncludeRhsLines = TemplateLines(IncludeRhs);

// The palette: one colour a line, red, green and blue from 0 to 255, the
// first two left-aligned in four columns.
// clang-format off
constexpr const char *const Palette[] = {
    "64  0   0",
    "128 0   0",
    "255 0   0",
    "255 255 128",
    "255 255 0",
    "255 128 0",
    "128 255 0",
    "128 128 0",
    "0   64  0",
    "0   128 0",
    "0   255 0",
    "0   255 255",
    "0   128 128",
    "0   64  64",
    "0   0   255",
    "0   0   160",
    "0   0   128",
    "0   0   64",
    "64  0   64",
    "128 0   128",
    "255 0   255",
    "255 255 255",
    "192 192 192",
    "128 128 128",
    "64  64  64",
    "0   0   0",
    nullptr,
};
constexpr std::size_t kPaletteLines = TemplateLines(Palette);
// clang-format on

const char *TemplateName(const char *const *lines) {
  if (lines == SetData) return "settings template";
  if (lines == init) return "interface-strings template";
  if (lines == IncludeRhs) return "system header template";
  if (lines == Palette) return "palette template";
  if (lines == CompileRhs || lines == CompileRhsKsh) return "compile script template";
  return "template";
}
