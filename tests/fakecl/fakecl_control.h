/* Control interface of the fake OpenCL driver used by tests.
 *
 * The driver is loaded by the ICD loader (OCL_ICD_VENDORS=/abs/path/libfakecl.so); a test reaches
 * the same loaded instance with dlopen of that path and dlsym of "fakecl_control_v1".
 * All functions are thread-safe. Texts use the scenario language described in README.md. */
#ifndef FAKECL_CONTROL_H
#define FAKECL_CONTROL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FAKECL_CONTROL_SYMBOL "fakecl_control_v1"
#define FAKECL_CONTROL_VERSION 1u

/* Kinds of a kernel argument as the kernel body sees it. */
enum fakecl_arg_kind {
  FAKECL_ARG_UNSET = 0,
  FAKECL_ARG_VALUE = 1,   /* clSetKernelArg with bytes: value points at a copy of size bytes */
  FAKECL_ARG_POINTER = 2, /* clSetKernelArgMemPointerTARNO: pointer holds the address */
  FAKECL_ARG_LOCAL = 3    /* clSetKernelArg with a null value: local memory of size bytes */
};

struct fakecl_kernel_arg {
  uint32_t kind;
  size_t size;
  const void *value;
  void *pointer;
};

/* One kernel launch, handed to the kernel body registered for the kernel's name. */
struct fakecl_launch {
  const char *kernel_name;
  uint32_t work_dim;
  size_t global_size[3];
  size_t local_size[3]; /* zeros when the enqueue passed no local size */
  uint32_t num_args;
  const struct fakecl_kernel_arg *args;
  uint32_t num_indirect_pointers; /* the pointer list of exec info 0x4203 */
  void *const *indirect_pointers;
  uint32_t indirect_flags; /* bit 0: 0x4200 host, bit 1: 0x4201 device, bit 2: 0x4202 shared set true */
};

typedef void (*fakecl_kernel_body)(const struct fakecl_launch *launch, void *user);

/* What the driver knows about a unified-shared-memory address. */
struct fakecl_usm_info {
  uint32_t type;        /* 0x4196 unknown, 0x4197 host, 0x4198 device, 0x4199 shared */
  void *base;           /* start of the allocation holding the address */
  size_t size;          /* its size in bytes */
  uint32_t alignment;   /* the alignment asked for */
  uint64_t properties[8]; /* the property list given at allocation, zero-terminated */
};

struct fakecl_control_v1 {
  uint32_t version; /* FAKECL_CONTROL_VERSION */
  /* Applies scenario text. Returns 0, or -1 with a message naming the bad line in error. */
  int (*configure)(const char *text, char *error, size_t error_size);
  /* Forgets faults, scripts, kernel bodies, the call record and counters. The platform layout
   * returns to the default only while the loader has not enumerated it yet. */
  void (*reset)(void);
  /* Number of recorded calls of a function since the last reset_log. */
  size_t (*call_count)(const char *function);
  /* The call record, one line per call: "name(args) = result". Copies at most size-1 bytes and a
   * NUL into buffer; returns the full length (without NUL). */
  size_t (*call_log)(char *buffer, size_t size);
  void (*reset_log)(void);
  /* Live objects of a kind: "context", "queue", "program", "kernel", "event", "usm", or "all". */
  size_t (*live_objects)(const char *kind);
  /* Replaces (or, with a null fn, withholds) a function offered by platform index to
   * clGetExtensionFunctionAddressForPlatform. Returns 0, or -1 for an unknown platform. */
  int (*set_extension_function)(unsigned platform, const char *name, void *fn);
  /* Registers the body run by clEnqueueNDRangeKernel for kernels of this name (null removes). */
  void (*set_kernel_body)(const char *kernel_name, fakecl_kernel_body body, void *user);
  /* Host memory backing a program-scope global of the most recently built program holding it. */
  void *(*find_global)(const char *name, size_t *size);
  /* Fills info for any address (interior ones included). Returns 0 when it lies in a live
   * allocation, -1 otherwise (type 0x4196). */
  int (*usm_info)(const void *address, struct fakecl_usm_info *info);
};

#ifdef __cplusplus
}
#endif

#endif /* FAKECL_CONTROL_H */
