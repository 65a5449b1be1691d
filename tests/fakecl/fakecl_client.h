// Header-only C++ client of the fake OpenCL driver's control table.
//
//   fakecl::Client Fake(FAKECL_LIBRARY_PATH);   // the same path as OCL_ICD_VENDORS
//   Fake.configure("platform version=\"OpenCL 3.0 x\"\ndevice type=gpu");
//   ... run code that uses OpenCL ...
//   EXPECT_EQ(Fake.callCount("clReleaseContext"), 1u);
//
// Never link the driver into a test: it is reached only through dlopen of its path.
#pragma once

#include "fakecl_control.h"

#include <dlfcn.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fakecl {

class Client {
public:
  explicit Client(const std::string &LibraryPath) {
    Handle = dlopen(LibraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!Handle)
      throw std::runtime_error(std::string("fakecl: cannot load ") + LibraryPath + ": " + dlerror());
    Table = static_cast<const fakecl_control_v1 *>(dlsym(Handle, FAKECL_CONTROL_SYMBOL));
    if (!Table || Table->version != FAKECL_CONTROL_VERSION)
      throw std::runtime_error("fakecl: the library has no matching control table");
  }
  ~Client() {
    if (Handle)
      dlclose(Handle);
  }
  Client(const Client &) = delete;
  Client &operator=(const Client &) = delete;

  // Applies scenario text; throws with the driver's message when a line is wrong.
  void configure(const std::string &Text) const {
    char Error[512];
    if (Table->configure(Text.c_str(), Error, sizeof(Error)) != 0)
      throw std::runtime_error(std::string("fakecl: ") + Error);
  }
  // Like configure, but returns the error message ("" on success).
  std::string tryConfigure(const std::string &Text) const {
    char Error[512];
    Table->configure(Text.c_str(), Error, sizeof(Error));
    return Error;
  }
  void reset() const { Table->reset(); }
  size_t callCount(const std::string &Function) const { return Table->call_count(Function.c_str()); }
  std::string callLog() const {
    std::string Text(Table->call_log(nullptr, 0), '\0');
    std::vector<char> Buffer(Text.size() + 1);
    Table->call_log(Buffer.data(), Buffer.size());
    return std::string(Buffer.data(), Text.size());
  }
  // Recorded calls, one per element; with a name, only the calls of that function.
  std::vector<std::string> calls(const std::string &Function = "") const {
    std::vector<std::string> Lines;
    std::stringstream In(callLog());
    std::string Line;
    while (std::getline(In, Line))
      if (Function.empty() || Line.compare(0, Function.size() + 1, Function + "(") == 0)
        Lines.push_back(Line);
    return Lines;
  }
  void resetLog() const { Table->reset_log(); }
  size_t liveObjects(const std::string &Kind = "all") const { return Table->live_objects(Kind.c_str()); }
  bool setExtensionFunction(unsigned Platform, const std::string &Name, void *Fn) const {
    return Table->set_extension_function(Platform, Name.c_str(), Fn) == 0;
  }
  void setKernelBody(const std::string &Kernel, fakecl_kernel_body Body, void *User = nullptr) const {
    Table->set_kernel_body(Kernel.c_str(), Body, User);
  }
  void *findGlobal(const std::string &Name, size_t *Size = nullptr) const {
    return Table->find_global(Name.c_str(), Size);
  }
  fakecl_usm_info usmInfo(const void *Address) const {
    fakecl_usm_info Info;
    Table->usm_info(Address, &Info);
    return Info;
  }
  const fakecl_control_v1 &table() const { return *Table; }

private:
  void *Handle = nullptr;
  const fakecl_control_v1 *Table = nullptr;
};

} // namespace fakecl
