/*
 * model.c - a small user's model for the compile-script tests.  It uses
 * the macros of the system header, which the script finds through the
 * product directory on its include path.
 */
#include "vel_sys.h"

double velo_model_value(double x) { return sqr(x) + cube(x) + iff(x > 0, 1, -1); }

int velo_model_index(void) { return dersub3(1, 2, 3); }

int velo_model_true(void) { return TRUE; }
