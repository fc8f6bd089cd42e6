cmd_autodif.o := vx-cxx -c -o autodif.o autodif.cc  -O0 -g
