// Late-bound calls on a component through IDispatch, as a host written to
// the published interface makes them: members found by name.
#pragma once

#include <string>
#include <vector>

#include "ComTypes.h"

namespace host {

// Invokes `name` with `arguments` (in call order); the result goes to `result`.
HRESULT CallByName(IDispatch* object, const std::u16string& name, WORD flags,
                   std::vector<VARIANT> arguments, VARIANT* result);
// A property's value as text for showing ("" with the failure code when it fails).
std::string PropertyText(IDispatch* object, const std::u16string& name);
std::string DescribeResult(HRESULT result);

}  // namespace host
