// autodif.cc - the symbolic-differentiation object of the example product.
//
// A Full installation compiles this file into autodif.o, which the
// analysis program links.  Here it differentiates the right-hand side of
// the Lorenz system (lorenz.vel) with forward-mode dual numbers: each
// value carries its derivative along one direction.

struct Dual {
  double value;
  double slope;
};

static Dual operator-(Dual a, Dual b) { return {a.value - b.value, a.slope - b.slope}; }
static Dual operator*(Dual a, Dual b) {
  return {a.value * b.value, a.slope * b.value + a.value * b.slope};
}
static Dual constant(double c) { return {c, 0.0}; }

// The Lorenz right-hand side at (x, y, z).
static void lorenz(const Dual u[3], const double p[3], Dual out[3]) {
  const Dual sigma = constant(p[0]), rho = constant(p[1]), beta = constant(p[2]);
  out[0] = sigma * (u[1] - u[0]);
  out[1] = u[0] * (rho - u[2]) - u[1];
  out[2] = u[0] * u[1] - beta * u[2];
}

// The Jacobian of the right-hand side at state, row by row (jacobian[3*i+j]
// is d f_i / d u_j), for the parameters sigma, rho and beta.
extern "C" void autodif_lorenz_jacobian(const double state[3], const double parameters[3],
                                        double jacobian[9]) {
  for (int j = 0; j < 3; ++j) {
    Dual u[3];
    for (int k = 0; k < 3; ++k) u[k] = {state[k], k == j ? 1.0 : 0.0};
    Dual f[3];
    lorenz(u, parameters, f);
    for (int i = 0; i < 3; ++i) jacobian[3 * i + j] = f[i].slope;
  }
}
