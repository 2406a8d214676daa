// The code behind the extraction library's exports, in its own namespace so
// that the copy linked into the setup program and the copy in the shared
// library never bind to each other.
#pragma once

#include "extraction_api.h"

#include <cstdint>
#include <functional>
#include <string>

namespace krv::extraction {

int Init(ExtractionContext *context);
// Bytes the group unpacks to (its tar stream); 0 when unknown.
uint64_t TotalSize(ExtractionContext *context);
int ExtractAll(ExtractionContext *context);
void End(ExtractionContext *context);

// The member names of the group in order (for deleting what a group put in
// place without extracting it again); false when the group cannot be read.
bool ListMembers(ExtractionContext *context, const std::function<void(const std::string &)> &each);

// A member name that may be written under the output folder: relative, no
// empty result, no ".." component.
bool SafeMemberName(const std::string &name);
// A symbolic link's target that stays inside the output folder, seen from
// the link's own folder (linkName is the member's name).
bool SafeLinkTarget(const std::string &linkName, const std::string &target);

} // namespace krv::extraction
