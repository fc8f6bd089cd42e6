/*
 * setup_controls.cc - the one set of the Setup window's controls.
 */
#include "setup_controls.h"

SetupControls &Controls() {
  static SetupControls controls;
  return controls;
}

Nlm_TexT TextControl(const SetupControls &c, Field field) {
  if (FieldRow(field).type != FieldType::kText) return nullptr;
  return static_cast<Nlm_TexT>(c.of(field));
}
