/*
 * site_defaults.h - a host's own starting values for the Setup form.
 *
 * The administrator of a lab gives every user's form its starting texts
 * (the product directory, the compilers) in one file, written in the
 * answer-file format (answers.h).  Every frontend starts from it, since
 * the form's starting values are made in one place (InitialForm); answer
 * files and options still win over it.  It gives texts only: the kind,
 * the shell style and the notice stay each user's choice, and a Full
 * installation still takes the current directory as its product
 * directory.  Without the file nothing changes.
 */
#ifndef VELORIX_SETUP_SITE_DEFAULTS_H
#define VELORIX_SETUP_SITE_DEFAULTS_H

#include <string>

#include "form_fields.h"
#include "result.h"

// Where the host keeps its defaults.
constexpr char kSiteDefaultsFile[] = "/etc/velorix-setup/defaults";

// Puts the texts that the site defaults at path give into form.  Nothing,
// and no message, when there is no such file.  A key that chooses (kind,
// shell-style, notify) is left out with a warning naming its line; a file
// that cannot be read, or a value the form refuses, leaves form as it was
// and the notice says why.  form->siteDefaults names the file once its
// values are in.
Result ApplySiteDefaults(const std::string &path, InstallForm *form);

// The site defaults of form: its product directory and compiler fields.
std::string SiteDefaultsText(const InstallForm &form);

// Whether the file at path is what SaveSiteDefaults writes for form: its
// text, readable by all and written by root alone.
bool SiteDefaultsHold(const std::string &path, const InstallForm &form);

// Writes SiteDefaultsText(form) to path, whole or not at all, readable by
// all (its directory made when missing); refused, saying why, when it
// cannot be.  A file that holds it already is left as it is (*unchanged,
// when given, says so).
Result SaveSiteDefaults(const std::string &path, const InstallForm &form,
                        bool *unchanged = nullptr);

#endif
