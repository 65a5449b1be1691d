// Several results of calls in one line, in the order the calls are written: the elements of a
// braced list are evaluated left to right, unlike function arguments and operands.
#ifndef TESTS_UNIT_ORDERED_RESULTS_H
#define TESTS_UNIT_ORDERED_RESULTS_H

#include <initializer_list>
#include <string>

inline std::string results(std::initializer_list<long> Values) {
  std::string Text;
  for (long V : Values)
    Text += (Text.empty() ? "" : " ") + std::to_string(V);
  return Text;
}

#endif
