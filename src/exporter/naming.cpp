#include "exporter/containers.hpp"
#include "exporter/exporter.hpp"

namespace vantrel {

std::string Exporter::defaultOutputName(const std::optional<std::filesystem::path>& inputPath) {
    std::string base = "vantrel";
    std::string extension;
    if (inputPath) {
        std::filesystem::path input = *inputPath;
        // "/in/clip/" names the folder clip, as its last component.
        if (!input.has_filename() && input.has_relative_path())
            input = input.parent_path();
        base = input.stem().string();
        extension = extensionOf(input);
    }
    return base + "_vantrel_10bit." + (namesMpeg4(extension) ? "mp4" : "mov");
}

} // namespace vantrel
