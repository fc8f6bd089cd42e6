cmd_autodif.o := vx-cxx -c -o autodif.o autodif.cc  -O2 -fPIC -lc -lm
