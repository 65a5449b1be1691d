// What the layer and its translator helper say to each other through the helper's standard
// streams: one request in, one reply out, each whole only when every announced byte arrived.
#pragma once

#include <cstdint>
#include <map>
#include <string>

// The helper's file name; it lives beside the layer's own library.
constexpr const char *kTranslatorHelperName = "omptarget_cl_spirv_translator";

enum class TranslatorTask : char {
  Translate = 'T',         // validate, then SPIR-V to bitcode
  SpecConstantSizes = 'S', // validate, then the ids and sizes of the specialisation constants
  CheckBitcode = 'B',      // whether a module of bitcode reads and verifies
};

struct TranslatorRequest {
  TranslatorTask Task = TranslatorTask::Translate;
  std::map<uint32_t, uint64_t> SpecConstants; // by id, for a translation
  std::string Module; // SPIR-V words in host byte order, or bitcode
};

struct TranslatorReply {
  bool Ok = false;
  std::string Log;
  std::string Payload; // bitcode, or (32-bit id, 64-bit size) pairs
};

std::string encodeRequest(const TranslatorRequest &Request);
// The number of bytes the request at the start of Text needs in all, once its header is there
// (0 before that, or for a header that is not a request).
size_t requestSize(const std::string &Text);
bool decodeRequest(const std::string &Text, TranslatorRequest &Request);

std::string encodeReply(const TranslatorReply &Reply);
// False unless Text is exactly one whole reply.
bool decodeReply(const std::string &Text, TranslatorReply &Reply);
