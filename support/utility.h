/*
 * utility.h - the Velorix support library, shared by the setup tool and the
 * analysis program (both C and C++ callers).
 *
 * Four concerns, each in its own source file:
 *   settings    the per-user settings file ".velorixrc" with $(Section.KEY)
 *               references, "~" line breaks, the "`" empty mark and checked
 *               printf-style values (settings_read.cc, settings_expand.cc,
 *               settings_write.cc, settings_messages.cc, format.cc);
 *   strings     trimming, substituting and inserting text, the working
 *               directory, file dialogs, commands and events (strings.cc,
 *               directory.cc, file_dialogs.cc, commands.cc, events.cc);
 *   descriptor  the line reader of description files (descriptor.cc,
 *               text_width.cc);
 *   registry    shared libraries loaded by settings key (registry.cc).
 *
 * Ownership rules are stated at each declaration.  The library is
 * single-threaded and not re-entrant: results in ParBuf are valid until the
 * next call that uses ParBuf.
 */
#ifndef VELORIX_UTILITY_H
#define VELORIX_UTILITY_H

#include <stddef.h>
#include <stdio.h>
#include <ncbi.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------ */
/* Limits                                                              */
/* ------------------------------------------------------------------ */

/* Settings texts and messages: 499 characters and the terminating NUL. */
#define VX_PARBUF_SIZE 500
/* Description-file lines: 349 characters and the terminating NUL. */
#define VX_LINE_SIZE 350
/* Base name handed to the core library, and the name it makes of it for
 * the settings file in the working and the home directory. */
#define VX_SETTINGS_BASE "velorix"
#define VX_SETTINGS_FILE "." VX_SETTINGS_BASE "rc"
/* The core library reads at most this many characters of one line of the
 * settings file and takes the rest as a line of its own: a setting that
 * must read back ("KEY=value", or "[Section]") fits in this many. */
#define VX_SETTINGS_LINE_MAX 255
/* The empty mark: a value that is meant to be empty is stored as this. */
#define VX_EMPTY_MARK '`'
/* The line-break mark inside a one-line value. */
#define VX_LINE_BREAK_MARK '~'

/* ------------------------------------------------------------------ */
/* Settings access and reference expansion                             */
/* ------------------------------------------------------------------ */

/* The process-wide result and scratch buffer, empty at start. */
extern Nlm_Char ParBuf[VX_PARBUF_SIZE];

/* One argument for a printf-style value, tagged with its kind so that the
 * value's directives can be checked against what the caller supplied. */
typedef enum VxArgKind {
  VX_ARG_INT,    /* any signed integer (char, short, int, long, long long) */
  VX_ARG_UINT,   /* any unsigned integer */
  VX_ARG_DOUBLE, /* float or double */
  VX_ARG_STRING, /* const char *, may be NULL (printed as "(null)") */
  VX_ARG_POINTER /* any other pointer */
} VxArgKind;

typedef struct VxArg {
  VxArgKind kind;
  union {
    long long i;
    unsigned long long u;
    double d;
    const char *s;
    const void *p;
  } value;
} VxArg;

/* Reads [section] key, expands it and formats it with args (nargs of them).
 * Returns ParBuf, or NULL after a message box when the key is missing or
 * empty, a reference is undefined, or the value's directives do not match
 * the arguments.  C callers use the GetParam macro, C++ callers the
 * GetParam template below; both build the argument list for them. */
Nlm_CharPtr GetParamArgs(const char *section, const char *key, const VxArg *args, int nargs);

/* Reads [section] key and expands it without formatting ("%" stays).
 * Returns ParBuf or NULL: after a missing key ParBuf holds the empty text,
 * after an undefined reference the text cut before that reference's ".". */
Nlm_CharPtr GetParamString(const char *section, const char *key);

/* Appends the value of [section] key to the text already in ParBuf and
 * expands the whole.  Returns ParBuf or NULL (ParBuf keeps its text). */
Nlm_CharPtr GetParamAppend(const char *section, const char *key);

/* Stores value under [section] key; newlines in value become "~" in the
 * caller's buffer.  A NULL key and value remove the whole section.
 * Names or values that would not read back as stored (a line over
 * VX_SETTINGS_LINE_MAX characters, "=" in a key, "]" in a section, a
 * carriage return in a value, ...) are refused with a message.
 * Returns TRUE only when the settings file on disk holds the change. */
Nlm_Boolean SetParam(const char *section, const char *key, Nlm_CharPtr value);

/* Between SettingsBatchBegin and SettingsBatchEnd, SetParam keeps the
 * values it stores in the core library's memory, once they passed its
 * checks, and returns TRUE; SettingsBatchEnd rewrites the settings file
 * once for all of them and verifies each on it, with SetParam's message
 * for the first it lacks.  It returns TRUE only when the file holds every
 * change.  A removal inside a batch writes what is pending first.  The
 * batch must not span a SettingsReload, which would drop what is pending;
 * batches do not nest. */
void SettingsBatchBegin(void);
Nlm_Boolean SettingsBatchEnd(void);

/* Expands references, "~" and "`" in text, in place.  text must be a
 * buffer of VX_PARBUF_SIZE bytes.  section and key name the value for the
 * undefined-reference report and may be NULL.  TRUE when every reference
 * was resolved. */
Nlm_Boolean Translate(Nlm_CharPtr text, const char *section, const char *key);
/* As Translate for a buffer of size bytes; a result that would not fit is
 * refused with a report and FALSE, never written past the buffer. */
Nlm_Boolean TranslateSized(Nlm_CharPtr text, size_t size, const char *section, const char *key);
/* Expands references only (no "~", no "`"); buffer of VX_PARBUF_SIZE. */
Nlm_Boolean TranslateRef(Nlm_CharPtr text, const char *section, const char *key);
Nlm_Boolean TranslateRefSized(Nlm_CharPtr text, size_t size, const char *section, const char *key);

/* Removes every empty mark from text, in place. */
void RemoveEmptyChars(Nlm_CharPtr text);

/* Shows the message [KernelErrors] key formatted with args; shows nothing
 * when the key is missing.  Always TRUE.  Use the Warning macro/template. */
Nlm_Boolean WarningArgs(const char *key, const VxArg *args, int nargs);

/* TRUE when VX_SETTINGS_FILE exists in the current working directory. */
Nlm_Boolean GetConfigFilePath(void);

/* Drops the core library's parsed copy of the settings file, so that the
 * next settings call reads the file from disk.  Needed after the file was
 * rewritten without the core library (the settings template). */
void SettingsReload(void);

/* ------------------------------------------------------------------ */
/* String, directory and event helpers                                 */
/* ------------------------------------------------------------------ */

/* Removes blanks, tabs, CR, LF and character 26 at both ends, in place.
 * Returns text. */
Nlm_CharPtr StrTrim(Nlm_CharPtr text);

/* Replaces each occurrence of search in str (a Nlm_MemGet block, taken
 * over) by replacement; with wholeWord an occurrence right after an ASCII
 * letter or digit is skipped.  Returns the block holding the result (the
 * same one when nothing changed); *count, when given, the replacements.
 * An empty or NULL search or a NULL replacement changes nothing; a text or
 * result longer than 32767 characters is refused with a message and str
 * returned unchanged, as it is when no memory is left. */
Nlm_CharPtr StrSubstitute(Nlm_CharPtr str, const char *search, const char *replacement,
                          Nlm_Boolean wholeWord, Nlm_Int2Ptr count);

/* Returns a new block holding str with insertion put at position pos; the
 * block str is freed.  A position outside the text inserts at the nearer
 * end.  A NULL insertion, a result longer than 32767 characters (refused
 * with a message) or a failed allocation return str unchanged. */
Nlm_CharPtr StrInsert(Nlm_CharPtr str, Nlm_Int2 pos, const char *insertion);

/* A new 4096-byte block with the working directory; the caller frees it
 * with Nlm_MemFree.  NULL, after a message, when the directory cannot be
 * determined (removed, or a path longer than 4095 characters). */
Nlm_CharPtr CurrentDirectory(void);

/* Makes path the working directory; NULL does nothing. */
void ChangeDirectory(const char *path);

/* The GUI file dialogs, keeping the working directory unchanged. */
Nlm_Boolean myGetInputFileName(Nlm_CharPtr name, size_t size, Nlm_CharPtr extType);
Nlm_Boolean myGetOutputFileName(Nlm_CharPtr name, size_t size, Nlm_CharPtr proposed);

/* Truncates the file under stream to length bytes; TRUE on success. */
Nlm_Boolean TruncateFile(FILE *stream, long length);

/* Runs command through the shell and waits for it, then returns the result
 * of then() cut to 16 bits.  unused is ignored; a NULL command runs
 * nothing, a NULL then gives 0. */
typedef int (*VxFollowUp)(void);
Nlm_Int2 ExecuteCommand(const char *command, void *unused, VxFollowUp then);

/* Dispatches one pending X event or timer; FALSE at once when none. */
Nlm_Boolean myProcessAnyEvent(void);

/* ------------------------------------------------------------------ */
/* Text descriptors and line reader                                    */
/* ------------------------------------------------------------------ */

/* Opens description file name (a bare name lies in [Paths] KERNEL). */
Nlm_Boolean DescOpen(const char *name);
void DescClose(void);
Nlm_Boolean DescEof(void);
void DescRewind(void);
/* 0 on success, nonzero when the position cannot be restored. */
int DescSeek(Nlm_Int4 position);

/* Next logical line into buf (VX_LINE_SIZE bytes), include lines followed;
 * NULL at the end of the main file. */
Nlm_CharPtr GetLine(Nlm_CharPtr buf);
Nlm_CharPtr GetLineSized(Nlm_CharPtr buf, size_t size);
/* The given column of the next line whose column is not empty. */
Nlm_CharPtr mGetLine(Nlm_CharPtr buf, Nlm_Int2 column);
Nlm_CharPtr mGetLineSized(Nlm_CharPtr buf, size_t size, Nlm_Int2 column);

/* Position just after the first line equal to text, or -1. */
Nlm_Int4 FindLine(const char *text);
/* Logical lines up to the next section line; the position is kept. */
Nlm_Int2 CountLines(void);
Nlm_Int2 mCountLines(Nlm_Int2 column);

/* Width in pixels of the widest line of a text file; 0 when unreadable.
 * Needs the GUI to be initialised. */
Nlm_Int2 FileLineMaxWidth(const char *path);

/* ------------------------------------------------------------------ */
/* Shared-library registry                                             */
/* ------------------------------------------------------------------ */

#define VX_LIBRARY_SLOTS 20
#define VX_CORE_FUNCS 60
#define VX_INTER_FUNCS 161
#define VX_LIB_HANDLES 1

typedef void (*VxHostFunc)(void);
/* Host tables handed to each library's entry points; filled by the host. */
extern VxHostFunc CoreFuncTable[VX_CORE_FUNCS];
extern VxHostFunc InterFuncTable[VX_INTER_FUNCS];
extern void *LibHandles[VX_LIB_HANDLES];

typedef void (*VxUnlockCallback)(void);
typedef struct VxUnlockRequest VxUnlockRequest;

/* Loads the library named by [Libraries] key (once; later locks count). */
void *LibraryLock(const char *key);
/* Releases one lock; always NULL. */
void *LibraryUnlock(void *handle);
/* Address of name in the library; NULL with the loader's message. */
void *LibraryFuncAddress(void *handle, const char *name);
/* Address of name in the library; NULL silently. */
void *LibraryFuncAddressCond(void *handle, const char *name);
/* Records a deferred release; NULL when no memory (reported). */
VxUnlockRequest *LibraryUnlockRequest(void *handle, VxUnlockCallback callback);
/* Carries out every recorded release, newest first. */
void LibraryUnlockRequested(void);
/* Releases every loaded library, calling its _VeloITerm. */
void LibraryUnlockAll(void);

#ifdef __cplusplus
} /* extern "C" */

/* C++ callers: GetParam(section, key, args...) and Warning(key, args...)
 * with the argument kinds taken from the argument types. */
inline VxArg VxMakeArg(long long v) {
  VxArg a;
  a.kind = VX_ARG_INT;
  a.value.i = v;
  return a;
}
inline VxArg VxMakeArg(int v) { return VxMakeArg(static_cast<long long>(v)); }
inline VxArg VxMakeArg(long v) { return VxMakeArg(static_cast<long long>(v)); }
inline VxArg VxMakeArg(short v) { return VxMakeArg(static_cast<long long>(v)); }
inline VxArg VxMakeArg(signed char v) { return VxMakeArg(static_cast<long long>(v)); }
inline VxArg VxMakeArg(char v) { return VxMakeArg(static_cast<long long>(v)); }
inline VxArg VxMakeArg(bool v) { return VxMakeArg(static_cast<long long>(v)); }
inline VxArg VxMakeArg(unsigned long long v) {
  VxArg a;
  a.kind = VX_ARG_UINT;
  a.value.u = v;
  return a;
}
inline VxArg VxMakeArg(unsigned long v) { return VxMakeArg(static_cast<unsigned long long>(v)); }
inline VxArg VxMakeArg(unsigned int v) { return VxMakeArg(static_cast<unsigned long long>(v)); }
inline VxArg VxMakeArg(unsigned short v) { return VxMakeArg(static_cast<unsigned long long>(v)); }
inline VxArg VxMakeArg(unsigned char v) { return VxMakeArg(static_cast<unsigned long long>(v)); }
inline VxArg VxMakeArg(double v) {
  VxArg a;
  a.kind = VX_ARG_DOUBLE;
  a.value.d = v;
  return a;
}
inline VxArg VxMakeArg(float v) { return VxMakeArg(static_cast<double>(v)); }
inline VxArg VxMakeArg(const char *v) {
  VxArg a;
  a.kind = VX_ARG_STRING;
  a.value.s = v;
  return a;
}
inline VxArg VxMakeArg(const void *v) {
  VxArg a;
  a.kind = VX_ARG_POINTER;
  a.value.p = v;
  return a;
}

template <typename... A>
inline Nlm_CharPtr GetParam(const char *section, const char *key, A... args) {
  if constexpr (sizeof...(A) == 0) {
    return GetParamArgs(section, key, nullptr, 0);
  } else {
    const VxArg list[] = {VxMakeArg(args)...};
    return GetParamArgs(section, key, list, static_cast<int>(sizeof...(A)));
  }
}

template <typename... A>
inline Nlm_Boolean Warning(const char *key, A... args) {
  if constexpr (sizeof...(A) == 0) {
    return WarningArgs(key, nullptr, 0);
  } else {
    const VxArg list[] = {VxMakeArg(args)...};
    return WarningArgs(key, list, static_cast<int>(sizeof...(A)));
  }
}

#else /* C callers: C11 _Generic picks the kind of each argument. */

static inline VxArg VxArgInt(long long v) {
  VxArg a;
  a.kind = VX_ARG_INT;
  a.value.i = v;
  return a;
}
static inline VxArg VxArgUint(unsigned long long v) {
  VxArg a;
  a.kind = VX_ARG_UINT;
  a.value.u = v;
  return a;
}
static inline VxArg VxArgDouble(double v) {
  VxArg a;
  a.kind = VX_ARG_DOUBLE;
  a.value.d = v;
  return a;
}
static inline VxArg VxArgString(const char *v) {
  VxArg a;
  a.kind = VX_ARG_STRING;
  a.value.s = v;
  return a;
}
static inline VxArg VxArgPointer(const void *v) {
  VxArg a;
  a.kind = VX_ARG_POINTER;
  a.value.p = v;
  return a;
}

#define VX_ARG(x) \
  _Generic((x), \
    char: VxArgInt, signed char: VxArgInt, short: VxArgInt, int: VxArgInt, \
    long: VxArgInt, long long: VxArgInt, \
    unsigned char: VxArgUint, unsigned short: VxArgUint, unsigned int: VxArgUint, \
    unsigned long: VxArgUint, unsigned long long: VxArgUint, \
    float: VxArgDouble, double: VxArgDouble, \
    char *: VxArgString, const char *: VxArgString, \
    default: VxArgPointer)(x)

#define VX_CAT_(a, b) a##b
#define VX_CAT(a, b) VX_CAT_(a, b)
#define VX_NARG(...) VX_NARG_(__VA_ARGS__, 8, 7, 6, 5, 4, 3, 2, 1, 0)
#define VX_NARG_(_1, _2, _3, _4, _5, _6, _7, _8, N, ...) N

/* GetParam(section, key) takes up to six arguments for its directives. */
#define GetParam(...) VX_CAT(VX_GP_, VX_NARG(__VA_ARGS__))(__VA_ARGS__)
#define VX_GP_2(s, k) GetParamArgs(s, k, NULL, 0)
#define VX_GP_3(s, k, a) GetParamArgs(s, k, (VxArg[]){VX_ARG(a)}, 1)
#define VX_GP_4(s, k, a, b) GetParamArgs(s, k, (VxArg[]){VX_ARG(a), VX_ARG(b)}, 2)
#define VX_GP_5(s, k, a, b, c) GetParamArgs(s, k, (VxArg[]){VX_ARG(a), VX_ARG(b), VX_ARG(c)}, 3)
#define VX_GP_6(s, k, a, b, c, d) \
  GetParamArgs(s, k, (VxArg[]){VX_ARG(a), VX_ARG(b), VX_ARG(c), VX_ARG(d)}, 4)
#define VX_GP_7(s, k, a, b, c, d, e) \
  GetParamArgs(s, k, (VxArg[]){VX_ARG(a), VX_ARG(b), VX_ARG(c), VX_ARG(d), VX_ARG(e)}, 5)
#define VX_GP_8(s, k, a, b, c, d, e, f) \
  GetParamArgs(s, k, (VxArg[]){VX_ARG(a), VX_ARG(b), VX_ARG(c), VX_ARG(d), VX_ARG(e), VX_ARG(f)}, 6)

/* Warning(key) takes up to seven arguments for its directives. */
#define Warning(...) VX_CAT(VX_WA_, VX_NARG(__VA_ARGS__))(__VA_ARGS__)
#define VX_WA_1(k) WarningArgs(k, NULL, 0)
#define VX_WA_2(k, a) WarningArgs(k, (VxArg[]){VX_ARG(a)}, 1)
#define VX_WA_3(k, a, b) WarningArgs(k, (VxArg[]){VX_ARG(a), VX_ARG(b)}, 2)
#define VX_WA_4(k, a, b, c) WarningArgs(k, (VxArg[]){VX_ARG(a), VX_ARG(b), VX_ARG(c)}, 3)
#define VX_WA_5(k, a, b, c, d) \
  WarningArgs(k, (VxArg[]){VX_ARG(a), VX_ARG(b), VX_ARG(c), VX_ARG(d)}, 4)
#define VX_WA_6(k, a, b, c, d, e) \
  WarningArgs(k, (VxArg[]){VX_ARG(a), VX_ARG(b), VX_ARG(c), VX_ARG(d), VX_ARG(e)}, 5)
#define VX_WA_7(k, a, b, c, d, e, f) \
  WarningArgs(k, (VxArg[]){VX_ARG(a), VX_ARG(b), VX_ARG(c), VX_ARG(d), VX_ARG(e), VX_ARG(f)}, 6)
#define VX_WA_8(k, a, b, c, d, e, f, g)                                                          \
  WarningArgs(                                                                                   \
      k, (VxArg[]){VX_ARG(a), VX_ARG(b), VX_ARG(c), VX_ARG(d), VX_ARG(e), VX_ARG(f), VX_ARG(g)}, \
      7)

#endif /* __cplusplus */

#endif /* VELORIX_UTILITY_H */
