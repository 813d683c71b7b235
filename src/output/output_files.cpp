#include "output/output_files.hpp"

#include <cstdio>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "output/csv.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora {

nlohmann::json files_failed_json(const std::vector<FileFailure>& failures) {
    nlohmann::json out = nlohmann::json::array();
    for (const FileFailure& failure : failures) {
        out.push_back({{"path", failure.path.string()}, {"reason", failure.reason}});
    }
    return out;
}

void ExtraOutputs::add(std::string label, std::string what, std::filesystem::path path) {
    if (!path.empty()) {
        outputs_.push_back({std::move(label), std::move(what), std::move(path)});
    }
}

void ExtraOutputs::check_paths() const {
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
        const Output& out = outputs_[i];
        // The file written beside it first, then renamed over it, must not
        // block either.
        std::filesystem::path partial = link_target(out.path);
        partial += ".partial";
        for (const auto& path : {out.path, partial}) {
            if (const std::string kind = special_file_kind(path); !kind.empty()) {
                throw ConfigError(strprintf("%s %s is %s, not a regular file", out.label.c_str(),
                                            path.c_str(), kind.c_str()));
            }
        }
        for (const OwnFile& file : own_) {
            if (same_file(out.path, file.path)) {
                throw ConfigError(strprintf("%s %s would overwrite %s %s", out.label.c_str(),
                                            out.path.c_str(), file.what.c_str(),
                                            file.path.c_str()));
            }
        }
        for (std::size_t j = i + 1; j < outputs_.size(); ++j) {
            if (same_file(out.path, outputs_[j].path)) {
                throw ConfigError(strprintf("%s %s would overwrite %s %s", out.label.c_str(),
                                            out.path.c_str(), outputs_[j].what.c_str(),
                                            outputs_[j].path.c_str()));
            }
        }
    }
}

void ExtraOutputs::check_creatable() const {
    for (const Output& out : outputs_) {
        velmora::check_creatable(out.path, out.label);
    }
}

const ExtraOutputs::Output& ExtraOutputs::output(const std::filesystem::path& path) const {
    for (const Output& out : outputs_) {
        if (out.path == path) {
            return out;
        }
    }
    throw std::logic_error("an output written without being checked: " + path.string());
}

std::string ExtraOutputs::write(const std::filesystem::path& path, std::string_view text) {
    const Output& out = output(path);
    const std::string reason = replace_text_file(path, text);
    if (reason.empty()) {
        return {};
    }
    return note_failure(out.path, reason);
}

std::string ExtraOutputs::note_failure(const std::filesystem::path& path,
                                       const std::string& reason) {
    const Output& out = output(path);
    failed_.push_back({out.path, reason});
    return strprintf("%s %s could not be written: %s", out.label.c_str(), out.path.c_str(),
                     reason.c_str());
}

std::string ExtraOutputs::write_json(const std::filesystem::path& path, nlohmann::json summary) {
    nlohmann::json& listed = summary["files_failed"];
    if (!listed.is_array()) {
        listed = nlohmann::json::array();
    }
    for (const auto& failure : files_failed_json(failed_)) {
        listed.push_back(failure);
    }
    // Series text arrives as UTF-8 (converted when read); what else is not
    // (a file name in another encoding) is written with U+FFFD in place of
    // each byte that is not UTF-8, never a failure after the work is done.
    return write(path,
                 summary.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
}

}  // namespace velmora
