#include "testpackage.h"

#include "md5digest.h"
#include "packagetrailer.h"

#include <cstring>

namespace testpackage {

std::string regiondigest(const std::string& bytes)
{
    char out[64];
    Md5Digest().digestbuffer(reinterpret_cast<const unsigned char*>(bytes.data()), int32_t(bytes.size()), out);
    return std::string(out, 32);
}

std::string makepackage(const std::string& stub, const std::string& a, const std::string& b)
{
    PackageTrailer trailer;
    trailer.offsetA = uint32_t(stub.size());
    trailer.offsetB = uint32_t(stub.size() + a.size());
    memcpy(trailer.digestA, regiondigest(a).data(), 32);
    memcpy(trailer.digestB, regiondigest(b).data(), 32);
    unsigned char bytes[TRAILER_SIZE];
    encodetrailer(trailer, bytes);
    return stub + a + b + std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

std::string emptyarchive() { return std::string("PK\x05\x06", 4) + std::string(18, '\0'); }

} // namespace testpackage
