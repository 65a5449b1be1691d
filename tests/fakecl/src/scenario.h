// The scenario language: line-based text that describes platforms, devices, faults and scripts.
#pragma once

#include "state.h"

#include <string>

namespace fakecl {

struct Token {
  std::string Key;   // empty for a bare word
  std::string Value; // the word, or the value after '='
};

// Splits one line into words and key=value pairs; double quotes group, \" \\ \n escape.
bool tokenize(const std::string &Line, std::vector<Token> &Tokens, std::string &Error);
bool parseNumber(const std::string &Text, long long &Value);
bool parseUnsigned(const std::string &Text, unsigned long long &Value);
// A typed value: "u32 7", "u64 7", "size 7", "bool 1", "string text", "sizes 1,2,3",
// "hex 0a0b", "fail -30". Tokens from index First on.
bool parseTypedValue(const std::vector<Token> &Tokens, size_t First, InfoValue &Value, std::string &Error);

bool applyScenario(State &S, const std::string &Text, std::string &Error);
bool applyScenarioFile(State &S, const char *Path, std::string &Error);

void setDefaultPlatformInfo(PlatformModel &P);
void setDefaultDeviceInfo(DeviceModel &D, unsigned IndexInPlatform);

// The module manifest inside program bytes: after a line "FAKECL-MODULE".
extern const char ModuleMarker[];
bool hasModuleMarker(const void *Bytes, size_t Size);
bool parseModule(const unsigned char *Bytes, size_t Size, ModuleDecl &Module, std::string &Error);

// The driver's implementation of a vendor function, by name; null if unknown.
void *vendorFunction(const char *Name);

} // namespace fakecl
