#pragma once
// A file written under a temporary name beside its target and renamed onto
// it by commit(); dropped without commit, the temporary file goes too.
#include <filesystem>
#include <string>
#include <system_error>

#include "formats/writers.h"

namespace formats {

class TempOutput {
public:
    explicit TempOutput(std::filesystem::path target)
        : target_(std::move(target)),
          temp_(target_.parent_path() / (target_.filename().string() + ".tmp")) {}
    ~TempOutput() {
        if (!committed_) {
            std::error_code ec;
            std::filesystem::remove(temp_, ec);
        }
    }
    TempOutput(const TempOutput&) = delete;
    TempOutput& operator=(const TempOutput&) = delete;

    const std::filesystem::path& temp() const { return temp_; }
    void commit() {
        std::error_code ec;
        std::filesystem::rename(temp_, target_, ec);
        if (ec) throw FormatError(target_.string() + ": cannot be put in place: " + ec.message());
        committed_ = true;
    }

private:
    std::filesystem::path target_, temp_;
    bool committed_ = false;
};

}  // namespace formats
