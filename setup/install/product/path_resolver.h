/*
 * path_resolver.h - where a path of the installed directory lies for the
 * file system, as the installation's steps and the checks of the product
 * directory both ask it.
 */
#ifndef VELORIX_SETUP_PATH_RESOLVER_H
#define VELORIX_SETUP_PATH_RESOLVER_H

#include <functional>
#include <string>

// Where a path of the installed directory lies for the file system
// (Actions::resolve).
using PathResolver = std::function<std::string(const std::string &)>;

#endif
