#include "batch/jobs_file.hpp"

#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>

#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora::batch {

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

bool is_name_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

// Why name cannot be a job's folder beside the summary files; empty when it can.
std::string name_problem(const std::string& name) {
    if (name.size() > 200) {
        return "a job name is at most 200 characters long";
    }
    for (char c : name) {
        if (!is_name_char(c)) {
            return strprintf("job name \"%s\" may hold only letters, digits, '.', '_' and '-'",
                             name.c_str());
        }
    }
    // ".", ".." and hidden names would climb out of the output folder or
    // clash with the files written beside and renamed in.
    if (name.front() == '.') {
        return strprintf("job name \"%s\" may not start with '.'", name.c_str());
    }
    if (name == "summary.csv" || name == "summary.json") {
        return strprintf("job name \"%s\" is the name of a summary file", name.c_str());
    }
    return {};
}

// The option an argument sets when it is one the batch owns ("--threads" or
// "--threads=4"); empty otherwise.
std::string_view owned_option(const std::string& argument) {
    for (std::string_view option : kBatchOwnedOptions) {
        if (argument == option ||
            (argument.size() > option.size() && argument.compare(0, option.size(), option) == 0 &&
             argument[option.size()] == '=')) {
            return option;
        }
    }
    return {};
}

}  // namespace

std::vector<std::string> split_shell_words(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (is_blank(c)) {
            if (in_word) {
                words.push_back(std::move(word));
                word.clear();
                in_word = false;
            }
            ++i;
        } else if (c == '#' && !in_word) {
            break;
        } else if (c == '\'') {
            const std::size_t end = line.find('\'', i + 1);
            if (end == std::string_view::npos) {
                throw std::invalid_argument("a single quote is not closed");
            }
            word.append(line.substr(i + 1, end - i - 1));
            in_word = true;
            i = end + 1;
        } else if (c == '"') {
            in_word = true;
            ++i;
            bool closed = false;
            while (i < line.size()) {
                const char d = line[i];
                if (d == '"') {
                    closed = true;
                    ++i;
                    break;
                }
                if (d == '\\' && i + 1 < line.size() &&
                    (line[i + 1] == '\\' || line[i + 1] == '"' || line[i + 1] == '$' ||
                     line[i + 1] == '`')) {
                    word += line[i + 1];
                    i += 2;
                } else {
                    word += d;
                    ++i;
                }
            }
            if (!closed) {
                throw std::invalid_argument("a double quote is not closed");
            }
        } else if (c == '\\') {
            if (i + 1 >= line.size()) {
                throw std::invalid_argument("a backslash ends the line (a job is one line)");
            }
            word += line[i + 1];
            in_word = true;
            i += 2;
        } else {
            word += c;
            in_word = true;
            ++i;
        }
    }
    if (in_word) {
        words.push_back(std::move(word));
    }
    return words;
}

std::vector<Job> parse_jobs(std::string_view text, const std::string& label) {
    std::vector<Job> jobs;
    std::map<std::string, int> line_of_name;
    int line_number = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++line_number;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        auto refuse = [&](const std::string& reason) {
            throw ConfigError(
                strprintf("%s line %d: %s", label.c_str(), line_number, reason.c_str()));
        };
        if (line.find('\0') != std::string_view::npos) {
            refuse("the line holds a NUL byte");
        }
        std::vector<std::string> words;
        try {
            words = split_shell_words(line);
        } catch (const std::invalid_argument& e) {
            refuse(e.what());
        }
        if (words.empty()) {
            continue;
        }
        Job job;
        job.line = line_number;
        job.name = words[0];
        if (const std::string problem = name_problem(job.name); !problem.empty()) {
            refuse(problem);
        }
        if (const auto seen = line_of_name.find(job.name); seen != line_of_name.end()) {
            refuse(strprintf("job name \"%s\" is already used on line %d", job.name.c_str(),
                             seen->second));
        }
        if (words.size() < 2) {
            refuse(strprintf("job \"%s\" names no command; write run or fit after the name",
                             job.name.c_str()));
        }
        job.command = words[1];
        if (job.command != "run" && job.command != "fit") {
            refuse(strprintf("\"%s\" is not a command a job can run; use run or fit",
                             job.command.c_str()));
        }
        job.arguments.assign(words.begin() + 2, words.end());
        for (std::size_t i = 0; i < job.arguments.size(); ++i) {
            const std::string& argument = job.arguments[i];
            if (const std::string_view option = owned_option(argument); !option.empty()) {
                refuse(strprintf("a job may not set %.*s; the batch sets it for every job",
                                 static_cast<int>(option.size()), option.data()));
            }
            if (argument == "--seed" && i + 1 < job.arguments.size()) {
                job.own_seed = job.arguments[i + 1];
            } else if (argument.rfind("--seed=", 0) == 0) {
                job.own_seed = argument.substr(7);
            }
            if (argument == "--charts" || argument.rfind("--charts=", 0) == 0) {
                job.own_charts = true;
            }
        }
        line_of_name.emplace(job.name, line_number);
        jobs.push_back(std::move(job));
    }
    return jobs;
}

std::vector<Job> read_jobs_file(const std::filesystem::path& path, const std::string& label) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        throw ConfigError(strprintf("Jobs file %s is not a readable regular file", label.c_str()));
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw ConfigError(strprintf("Jobs file %s could not be opened", label.c_str()));
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        throw ConfigError(strprintf("Jobs file %s could not be read", label.c_str()));
    }
    std::vector<Job> jobs = parse_jobs(text, label);
    if (jobs.empty()) {
        throw ConfigError(strprintf("Jobs file %s holds no job", label.c_str()));
    }
    return jobs;
}

int derived_seed(std::uint64_t batch_seed, std::string_view name) {
    std::uint64_t hash = 14695981039346656037ULL;
    auto mix = [&hash](unsigned char byte) {
        hash ^= byte;
        hash *= 1099511628211ULL;
    };
    // The seed's eight bytes, least significant first, then the name: the
    // same on every machine whatever its byte order.
    for (int i = 0; i < 8; ++i) {
        mix(static_cast<unsigned char>(batch_seed >> (8 * i)));
    }
    for (char c : name) {
        mix(static_cast<unsigned char>(c));
    }
    return static_cast<int>(hash % 1000);
}

}  // namespace velmora::batch
