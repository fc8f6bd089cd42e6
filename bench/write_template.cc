/*
 * write_template.cc - prints the built-in settings template, so that the
 * configparser peer of the expansion benchmark reads the same file.
 */
#include <cstdio>

#include "templates.h"

int main() {
  for (std::size_t i = 0; i < kSetDataLines && SetData[i] != nullptr; ++i)
    std::printf("%s\n", SetData[i]);
  return 0;
}
