// The host kernel's flat service interface, as the plug-ins see it.
//
// Everything a plug-in does to the open database, the output window, the
// user and the file system goes through the data items and operations
// declared here. Addresses are 32 bits wide; BADADDR (0xFFFFFFFF) is the
// invalid address, meaning that nothing was found. The kernel library that
// implements this interface lives in host/kernel; the plug-ins link against it
// and against nothing else.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#if defined(_WIN32)
#define HOST_API __declspec(dllimport)
#else
#define HOST_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t ea_t;     // an address in the database
typedef uint32_t asize_t;  // a size in bytes
typedef uint32_t flags_t;  // item and member type flags
typedef uint32_t tid_t;    // a structure type id
typedef int32_t opinfo_t;  // the one-word type info of a structure member

#define BADADDR ((ea_t)0xFFFFFFFFu)
#define BADNODE ((tid_t)0xFFFFFFFFu)

// Item types for do_data_ex and add_struc_member (the high nibble selects
// the element; the low bits of the member flags are display details).
#define DATA_BYTE 0x00000000u
#define DATA_WORD 0x10000000u
#define DATA_DWORD 0x20000000u
#define DATA_QWORD 0x30000000u
#define DATA_ASCII 0x50000000u
#define DATA_STRUCT 0x60000000u
#define DATA_TYPE_MASK 0xF0000000u

// ---- Data items ----------------------------------------------------------

#pragma pack(push, 1)
/// The database's global settings. Only three fields are meaningful to the
/// plug-ins; their byte positions are part of the interface.
typedef struct idainfo {
  uint8_t reserved0[43];
  ea_t min_ea;  ///< byte 43: lowest address of the program
  ea_t max_ea;  ///< byte 47: highest address, the exclusive end
  uint8_t reserved1[154 - 51];
  int32_t strtype;  ///< byte 154: default string type (1: one length byte)
  uint8_t reserved2[32];
} idainfo;

/// The processor module in use; only its identifier is meaningful.
typedef struct processor_t {
  int32_t version;
  int32_t id;  ///< byte 4: 0 is the x86 family
} processor_t;
#pragma pack(pop)

/// An address range; a segment is one. end_ea is exclusive.
typedef struct area_t {
  ea_t start_ea;
  ea_t end_ea;
} area_t;

/// The collection of segments, searched with areacb_t_get_area and
/// areacb_t_get_next_area.
typedef struct areacb_t {
  void *impl;
} areacb_t;

/// A node of the database's tree of named values.
typedef struct netnode {
  uint32_t index;
} netnode;

typedef struct struc_t struc_t;  // opaque structure type

extern HOST_API idainfo inf;
extern HOST_API processor_t ph;
extern HOST_API netnode RootNode;  ///< its value is the input file's full path
extern HOST_API areacb_t segs;

/// The value of `node` as text, cut to fit `bufsize` bytes and terminated;
/// the length written, or -1 when the node has no value.
HOST_API int netnode_valstr(netnode node, char *buf, size_t bufsize);

/// The segment holding `ea`, or null. The pointer stays valid until the
/// segments change.
HOST_API area_t *areacb_t_get_area(areacb_t *cb, ea_t ea);
/// The first segment that starts above `ea`, or null. The pointer stays
/// valid until the segments change.
HOST_API area_t *areacb_t_get_next_area(areacb_t *cb, ea_t ea);

// ---- Reading -------------------------------------------------------------

/// Byte at `ea`; 0xFF when no segment holds `ea`.
HOST_API uint8_t get_byte(ea_t ea);
/// Little-endian word at `ea`, byte by byte (across segment borders).
HOST_API uint16_t get_word(ea_t ea);
/// Little-endian doubleword at `ea`, byte by byte (across segment borders).
HOST_API uint32_t get_long(ea_t ea);
/// The bytes from `ea` to the end of the segment holding it, in memory: a
/// pointer to the byte at `ea` and, in *size, how many follow up to the
/// segment's end (`ea` included). Null with *size 0 when no segment holds
/// `ea`. They are the bytes get_byte reads, valid until the segments change;
/// a scan over many addresses reads them without a call per address.
HOST_API const uint8_t *get_segment_bytes(ea_t ea, asize_t *size);
/// First address after the item holding `ea`; ea + 1 for an unknown byte.
HOST_API ea_t get_item_end(ea_t ea);
/// The address before `ea`; BADADDR when there is none.
HOST_API ea_t prevaddr(ea_t ea);
/// Index of the function holding `ea`, or -1.
HOST_API int get_func_num(ea_t ea);
/// Lowest address that refers to `ea` by a data reference, or BADADDR.
HOST_API ea_t get_first_dref_to(ea_t ea);
/// The name of `ea` (given, else the derived dummy name) in `buf` of
/// `bufsize` bytes; `buf`, or null when `ea` has no name. `from` is the
/// address the name is seen from and does not change the result.
HOST_API char *get_true_name(ea_t from, ea_t ea, char *buf, size_t bufsize);
/// Comment of `ea` (repeatable when `repeatable` is non-zero) in `buf`;
/// its length, or -1 when there is none.
HOST_API int get_cmt(ea_t ea, int repeatable, char *buf, size_t bufsize);

// ---- Changing ------------------------------------------------------------

/// Undefines the item holding `ea`. Names and comments stay. 1 on success.
HOST_API int do_unknown(ea_t ea, int flags);
/// Undefines every item that overlaps [ea, ea + size). 1 on success.
HOST_API int do_unknown_range(ea_t ea, asize_t size, int flags);
/// Makes a data item of `size` bytes at `ea`: `type` is one of DATA_BYTE,
/// DATA_WORD, DATA_DWORD, DATA_QWORD (id BADNODE) or DATA_STRUCT (id the
/// structure). 1 on success, 0 when refused.
HOST_API int do_data_ex(ea_t ea, flags_t type, asize_t size, tid_t id);
/// Makes an alignment item of `length` bytes at `ea` that ends on a
/// multiple of 1 << `alignment`. 1 on success.
HOST_API int doAlign(ea_t ea, asize_t length, int alignment);
/// Turns the four bytes at `ea` into an offset to the value they hold
/// (called as op_offset(ea, 0, 2, -1, 0, 0)). Non-zero on success.
HOST_API int op_offset(ea_t ea, int n, uint32_t reftype, ea_t target, ea_t base,
                       int32_t tdelta);
/// Makes a string item at `start`; with `len` 0 and `strtype` 1 its length
/// comes from the length byte at `start`. 1 on success.
HOST_API int make_ascii_string(ea_t start, asize_t len, int32_t strtype);
/// Makes a function at `ea1`; with `ea2` BADADDR the host finds its end.
/// 1 on success.
HOST_API int add_func(ea_t ea1, ea_t ea2);
/// Names `ea`; a name used elsewhere is made unique, an empty name removes
/// the name. 1 on success.
HOST_API int do_name_anyway(ea_t ea, const char *name, size_t maxlen);
/// Replaces the comment of `ea`; an empty text removes it. 1 on success.
HOST_API int set_cmt(ea_t ea, const char *text, int repeatable);

// ---- Structures ----------------------------------------------------------

/// Adds a structure type named `name` at list position `index` (BADADDR:
/// the end). Its id, or BADNODE when refused (a used name, say).
HOST_API tid_t add_struc(uint32_t index, const char *name, int is_union);
/// Looks up a structure type by name: stores its id in *id, or BADNODE
/// when none exists (called with namelen 0 and create 0). 1 when found.
HOST_API int netnode_check(tid_t *id, const char *name, size_t namelen, int create);
/// The structure type with id `id`, or null.
HOST_API struc_t *get_struc(tid_t id);
/// The end of the structure's last member; 0 for null.
HOST_API asize_t get_struc_size(const struc_t *sptr);
/// Adds a member; 0 on success, a negative value when refused (a null
/// structure, a used name, an overlap).
HOST_API int add_struc_member(struc_t *sptr, const char *fieldname, ea_t offset,
                              flags_t flags, const opinfo_t *type_info, asize_t nbytes);

// ---- Files and text ------------------------------------------------------

/// Opens a text file for writing; null on failure.
HOST_API FILE *fopenWT(const char *file);
HOST_API int qvfprintf(FILE *fp, const char *format, va_list va);
HOST_API int qfclose(FILE *fp);
/// Copies `src` into `dst` of `dstsize` bytes, cut to fit and terminated.
HOST_API char *qstrncpy(char *dst, const char *src, size_t dstsize);
/// Appends `src` to `dst`; `dstsize` is the whole buffer's size. The result
/// is cut to fit and terminated.
HOST_API char *qstrncat(char *dst, const char *src, size_t dstsize);
HOST_API int qsnprintf(char *buffer, size_t n, const char *format, ...);
/// The directory part of `path` (both "/" and "\" separate) in `out`.
/// 1 when `path` had a directory part.
HOST_API int qdirname(char *out, size_t bufsize, const char *path);
/// The file name part of `path`: a pointer into `path`.
HOST_API const char *qbasename(const char *path);
/// Cuts the extension off `file` in place; stores the extension and the
/// position of the dot when `ext` and `dot` are not null. Returns `file`.
HOST_API char *qsplitfile(char *file, char **ext, char **dot);
/// `ea` as the host shows it ("CODE:00401000"; the 8 digits alone outside
/// every segment), in `buf`. Returns `buf`.
HOST_API char *ea2str(ea_t ea, char *buf, size_t bufsize);

// ---- User interface ------------------------------------------------------

/// Requests understood by callui and their arguments.
enum ui_request {
  /// (ea_t ea, int operand): move the view to `ea`. i: 1.
  UI_JUMP_TO = 7,
  /// (ea_t *out): store the cursor address. i: 1.
  UI_GET_CURSOR = 10,
  /// (const char *format, va_list *args): print to the output window.
  /// i: the number of characters printed.
  UI_MESSAGE = 23,
  /// (const char *yes, const char *no, const char *cancel, int default,
  ///  const char *format, va_list *args): ask a question. i: 1 Yes, 0 No,
  /// -1 Cancel. Null button texts mean the host's own.
  UI_ASK_YES_NO = 24,
  /// (int history, const char *default_text, const char *prompt,
  ///  va_list *args): ask for a text. cptr: the answer in a buffer the host
  /// owns until the next question, or null when the user cancelled.
  UI_ASK_TEXT = 31,
};

typedef union callui_t {
  int32_t i;
  void *vptr;
  char *cptr;
} callui_t;

typedef callui_t (*callui_fn)(int request, ...);
extern HOST_API callui_fn callui;

// ---- Plug-in interface ---------------------------------------------------

#define PLUGIN_INTERFACE_VERSION 76

/// The descriptor every plug-in exports under the name PLUGIN.
typedef struct plugin_t {
  int32_t version;  ///< PLUGIN_INTERFACE_VERSION
  int32_t flags;
  int (*init)(void);  ///< 1: offered for this database, 0: not offered
  void (*term)(void);
  void (*run)(int arg);
  const char *comment;
  const char *help;
  const char *wanted_name;
  const char *wanted_hotkey;
} plugin_t;

#if defined(_WIN32)
#define PLUGIN_EXPORT __declspec(dllexport)
#else
#define PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
}  // extern "C"
#endif
