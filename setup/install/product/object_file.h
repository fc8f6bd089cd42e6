/*
 * object_file.h - whether a file is an object that a link can take.
 *
 * The symbolic-differentiation object is compiled once and then trusted:
 * a Full installation compiles it again only when it is missing, older
 * than its sources or made by another command, and a User installation
 * links against the product's.  An empty file, a piece of one that a full
 * disk cut short, or anything else that is no object must count as
 * missing, or it would be trusted for ever.
 */
#ifndef VELORIX_SETUP_OBJECT_FILE_H
#define VELORIX_SETUP_OBJECT_FILE_H

#include <string>

// Whether the file at path is an ELF relocatable object of this machine's
// class and byte order, whole as far as its header tells: the section
// header table it names lies within the file.
bool IsRelocatableObject(const std::string &path);

#endif
