// Any bytes as a job file: a Job or a JobDecodingError, nothing else.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "exporter/job.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vantrel;
    try {
        const auto job = Job::decode({reinterpret_cast<const char*>(data), size});
        // The text must survive whole: it is at most as long as the file.
        if (job.grade().lutCube().size() > size)
            std::abort();
    } catch (const JobDecodingError&) {
    }
    return 0;
}
