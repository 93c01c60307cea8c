#pragma once
// A benchmark's size can be set from the environment (QUILLORY_BENCH_FILES and the like), so that
// a quick run checks that it works before the full one measures.
#include <QtGlobal>

// The number in Variable, or Default when it is not set.
inline int BenchSize(const char* Variable, int Default) {
  return qEnvironmentVariableIsSet(Variable) ? qEnvironmentVariableIntValue(Variable) : Default;
}
