// Signature databases made in the test through the library's own objects,
// for file types that the shipped database does not have.
#pragma once

#include <string>
#include <vector>

#include "Typhex.h"
#include "platform/com.h"

namespace wizardtest {

// A pattern: 0 to 255 a literal byte, 256 any byte.
using Pattern = std::vector<int>;

platform::ComPtr<ISupportedFileTypes> NewFileTypes();

// Adds a searchable type with one signature.
void AddFileType(ISupportedFileTypes* types, const std::string& extension, const Pattern& start,
                 const std::vector<Pattern>& ends = {}, bool fixedLength = false, LONG fileSize = 0);

} // namespace wizardtest
