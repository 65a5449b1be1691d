// The work of the translator helper: SPIR-V modules checked, then read with the translator
// library; bitcode from outside checked before the layer reads it. Runs only in the helper, whose end on an assertion fails a build and nothing else.
#pragma once

#include "translator_protocol.h"

TranslatorReply serveRequest(const TranslatorRequest &Request);
