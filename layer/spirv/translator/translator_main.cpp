// The layer's translator helper: reads one request on standard input, answers on standard output
// and ends. The layer starts it for every module, so an assertion or a crash of the translator
// library, or a hang the layer's deadline ends, costs one build and never the application.
#include "spirv_reader.h"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

// Reads until the request is whole: the layer's end of the channel may stay open.
bool readRequest(std::string &Text) {
  char Buffer[65536];
  for (;;) {
    size_t Needed = requestSize(Text);
    if (Needed != 0 && Text.size() >= Needed)
      return Text.size() == Needed;
    ssize_t N = read(0, Buffer, sizeof(Buffer));
    if (N < 0 && errno == EINTR)
      continue;
    if (N <= 0)
      return false;
    Text.append(Buffer, static_cast<size_t>(N));
  }
}

bool writeAll(const std::string &Text) {
  size_t Done = 0;
  while (Done < Text.size()) {
    ssize_t N = write(1, Text.data() + Done, Text.size() - Done);
    if (N < 0 && errno == EINTR)
      continue;
    if (N <= 0)
      return false;
    Done += static_cast<size_t>(N);
  }
  return true;
}

} // namespace

int main() {
  std::string Text;
  TranslatorRequest Request;
  if (!readRequest(Text) || !decodeRequest(Text, Request)) {
    static const char Message[] = "omptarget_cl_spirv_translator: malformed request\n";
    (void)!write(2, Message, sizeof(Message) - 1);
    _exit(2);
  }
  // _exit: LLVM's static destructors have nothing to add once the answer is out.
  _exit(writeAll(encodeReply(serveRequest(Request))) ? 0 : 1);
}
