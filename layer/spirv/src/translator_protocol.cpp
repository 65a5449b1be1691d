#include "translator_protocol.h"

#include <cstring>

namespace {

constexpr char kRequestMagic[8] = {'O', 'C', 'L', 'T', 'R', 'Q', '0', '1'};
constexpr char kReplyMagic[8] = {'O', 'C', 'L', 'T', 'R', 'P', '0', '1'};
constexpr size_t kRequestHeader = sizeof(kRequestMagic) + 1 + sizeof(uint32_t);
constexpr size_t kSpecPair = sizeof(uint32_t) + sizeof(uint64_t);

template <typename T> void put(std::string &Text, T Value) {
  Text.append(reinterpret_cast<const char *>(&Value), sizeof(Value));
}

// Reads a value at At and moves past it; false when the text is too short.
template <typename T> bool take(const std::string &Text, size_t &At, T &Value) {
  if (Text.size() - At < sizeof(Value))
    return false;
  std::memcpy(&Value, Text.data() + At, sizeof(Value));
  At += sizeof(Value);
  return true;
}

bool takeText(const std::string &Text, size_t &At, std::string &Value) {
  uint64_t Length = 0;
  if (!take(Text, At, Length) || Length > Text.size() - At)
    return false;
  Value.assign(Text, At, Length);
  At += Length;
  return true;
}

} // namespace

std::string encodeRequest(const TranslatorRequest &Request) {
  std::string Text(kRequestMagic, sizeof(kRequestMagic));
  Text.push_back(static_cast<char>(Request.Task));
  put(Text, static_cast<uint32_t>(Request.SpecConstants.size()));
  for (auto &[Id, Value] : Request.SpecConstants) {
    put(Text, Id);
    put(Text, Value);
  }
  put(Text, static_cast<uint64_t>(Request.Module.size()));
  return Text + Request.Module;
}

size_t requestSize(const std::string &Text) {
  if (Text.size() < kRequestHeader || Text.compare(0, 8, kRequestMagic, 8) != 0)
    return 0;
  uint32_t Count = 0;
  std::memcpy(&Count, Text.data() + kRequestHeader - sizeof(Count), sizeof(Count));
  size_t LengthAt = kRequestHeader + size_t(Count) * kSpecPair;
  uint64_t Length = 0;
  if (Text.size() < LengthAt + sizeof(Length))
    return LengthAt + sizeof(Length);
  std::memcpy(&Length, Text.data() + LengthAt, sizeof(Length));
  size_t Fixed = LengthAt + sizeof(Length);
  return Length > SIZE_MAX - Fixed ? SIZE_MAX : Fixed + Length;
}

bool decodeRequest(const std::string &Text, TranslatorRequest &Request) {
  if (requestSize(Text) != Text.size())
    return false;
  size_t At = sizeof(kRequestMagic);
  char Task = Text[At++];
  if (Task != static_cast<char>(TranslatorTask::Translate) &&
      Task != static_cast<char>(TranslatorTask::SpecConstantSizes) &&
      Task != static_cast<char>(TranslatorTask::CheckBitcode))
    return false;
  Request.Task = static_cast<TranslatorTask>(Task);
  uint32_t Count = 0;
  take(Text, At, Count);
  for (uint32_t I = 0; I < Count; ++I) {
    uint32_t Id = 0;
    uint64_t Value = 0;
    take(Text, At, Id);
    take(Text, At, Value);
    Request.SpecConstants[Id] = Value;
  }
  return takeText(Text, At, Request.Module) && At == Text.size();
}

std::string encodeReply(const TranslatorReply &Reply) {
  std::string Text(kReplyMagic, sizeof(kReplyMagic));
  Text.push_back(Reply.Ok ? '1' : '0');
  put(Text, static_cast<uint64_t>(Reply.Log.size()));
  Text += Reply.Log;
  put(Text, static_cast<uint64_t>(Reply.Payload.size()));
  return Text + Reply.Payload;
}

bool decodeReply(const std::string &Text, TranslatorReply &Reply) {
  size_t At = sizeof(kReplyMagic) + 1;
  if (Text.size() < At || Text.compare(0, 8, kReplyMagic, 8) != 0 ||
      (Text[At - 1] != '0' && Text[At - 1] != '1'))
    return false;
  Reply.Ok = Text[At - 1] == '1';
  return takeText(Text, At, Reply.Log) && takeText(Text, At, Reply.Payload) && At == Text.size();
}
