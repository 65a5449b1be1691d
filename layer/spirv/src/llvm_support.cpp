#include "llvm_support.h"

#include <llvm/Bitcode/BitcodeReader.h>
#include <llvm/Bitcode/BitcodeWriter.h>
#include <llvm/IR/DiagnosticHandler.h>
#include <llvm/IR/DiagnosticInfo.h>
#include <llvm/IR/DiagnosticPrinter.h>
#include <llvm/IR/Verifier.h>
#include <llvm/Support/MemoryBuffer.h>
#include <llvm/Support/raw_ostream.h>

namespace {

struct LogHandler : llvm::DiagnosticHandler {
  LogHandler(std::string &Log, bool &HadError) : Log(Log), HadError(HadError) {}
  bool handleDiagnostics(const llvm::DiagnosticInfo &Info) override {
    const char *Severity = "note";
    switch (Info.getSeverity()) {
    case llvm::DS_Error:
      Severity = "error";
      HadError = true;
      break;
    case llvm::DS_Warning:
      Severity = "warning";
      break;
    default:
      break;
    }
    llvm::raw_string_ostream Out(Log);
    llvm::DiagnosticPrinterRawOStream Printer(Out);
    Out << Severity << ": ";
    Info.print(Printer);
    Out << "\n";
    return true; // handled: LLVM must not print or exit on its own
  }
  std::string &Log;
  bool &HadError;
};

} // namespace

LoggingContext::LoggingContext(std::string &Log) {
  Context.setOpaquePointers(false);
  Context.setDiagnosticHandler(std::make_unique<LogHandler>(Log, HadError));
}

std::unique_ptr<llvm::Module> parseBitcode(const std::string &Bitcode, llvm::LLVMContext &Context,
                                           std::string &Log) {
  auto Buffer = llvm::MemoryBuffer::getMemBuffer(llvm::StringRef(Bitcode), "program", false);
  auto Parsed = llvm::parseBitcodeFile(Buffer->getMemBufferRef(), Context);
  if (!Parsed) {
    Log += "error: cannot read module: " + llvm::toString(Parsed.takeError()) + "\n";
    return nullptr;
  }
  return std::move(*Parsed);
}

std::string writeBitcode(const llvm::Module &Module) {
  std::string Bitcode;
  llvm::raw_string_ostream Out(Bitcode);
  llvm::WriteBitcodeToFile(Module, Out);
  Out.flush();
  return Bitcode;
}

bool moduleIsValid(const llvm::Module &Module, std::string &Log) {
  llvm::raw_string_ostream Out(Log);
  if (!llvm::verifyModule(Module, &Out))
    return true;
  Out << "error: the module is not valid\n";
  return false;
}
