// Packages assembled by the tests as the builder lays them out: stub,
// archive A, archive B and the trailer with its offsets and sampled digests.
// Portable, for the native and the Windows tests alike.
#pragma once

#include <string>

namespace testpackage {

// The digest of a region as the trailer records it: the sampled digest, 32
// hexadecimal characters.
std::string regiondigest(const std::string& bytes);
// stub + a + b + the trailer that locates and digests a and b.
std::string makepackage(const std::string& stub, const std::string& a, const std::string& b);
// An archive without entries: its end record alone.
std::string emptyarchive();

} // namespace testpackage
