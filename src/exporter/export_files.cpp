// The files an export reads besides the video, and what it writes beside its output.

#include <cerrno>
#include <csignal>

#include <fmt/format.h>

#include "exporter/containers.hpp"
#include "exporter/exporter.hpp"
#include "exporter/text_scan.hpp"
#include "media/files.hpp"
#include "media/partial_files.hpp"

namespace vantrel {

LutText Exporter::resolveLutText(const std::optional<std::filesystem::path>& lutOverridePath,
                                 const Job& job) {
    if (!lutOverridePath)
        return {job.grade().lutCube(), {}};
    // An override that cannot be used falls back to the job's own LUT, but never
    // silently: the grade would not be the one the user chose.
    std::string why;
    try {
        return {readLutFile(*lutOverridePath), {}};
    } catch (const Error& error) {
        const bool file = error.domain() == "file";
        if (file && error.code() == EFBIG)
            why = fmt::format("is larger than {} MiB", maxLutFileBytes >> 20);
        else if (file && error.code() == EILSEQ)
            why = "is not UTF-8 text";
        else
            why = fmt::format("cannot be read ({})", error.detail());
    }
    return {job.grade().lutCube(),
            {fmt::format("The LUT file \"{}\" {}; the job's own LUT is used instead.",
                         lutOverridePath->string(), why)}};
}

media::FileType Exporter::chooseFileType(const std::filesystem::path& outputPath, const Job& job) {
    if (namesMpeg4(extensionOf(outputPath)))
        return media::FileType::mp4;
    const auto& output = job.output();
    if (output && output->container() && namesMpeg4(*output->container()))
        return media::FileType::mp4;
    return media::FileType::mov;
}

std::string Exporter::readJobFile(const std::filesystem::path& path) {
    // Job::decode refuses what is over the limit in its own terms.
    return media::readWholeFile(path, maxJobFileBytes);
}

std::string Exporter::readLutFile(const std::filesystem::path& path) {
    auto text = media::readWholeFile(path, maxLutFileBytes);
    if (text.size() > maxLutFileBytes)
        throw FileError(EFBIG, "read", path);
    // One verdict for every reader of a LUT file: a .cube file is text.
    if (!text::isValidUtf8(text))
        throw FileError(EILSEQ, "read", path, "it is not UTF-8 text");
    return text;
}

void Exporter::removePartialFilesNow() noexcept {
    media::removePartialFilesNow();
}

void Exporter::prepareProcess() noexcept {
    media::ensureStandardDescriptors();
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

} // namespace vantrel
