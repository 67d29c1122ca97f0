#include "AppTestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace tarven::test {

namespace fs = std::filesystem;

TempFolder::TempFolder() : saved_(fs::current_path()) {
    std::string pattern = (fs::temp_directory_path() / "tarven-app-XXXXXX").string();
    path_ = fs::canonical(::mkdtemp(pattern.data()));
    fs::current_path(path_);
}

TempFolder::~TempFolder() {
    fs::current_path(saved_);
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void TempFolder::File(const std::string& name, std::int64_t size, std::int64_t offset, const std::string& bytes) const {
    { std::ofstream create(path_ / name, std::ios::binary | std::ios::trunc); }
    fs::resize_file(path_ / name, static_cast<std::uintmax_t>(size));
    std::fstream file(path_ / name, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(offset);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void TempFolder::Folder(const std::string& name) const { fs::create_directory(path_ / name); }

bool OnlyComOne(int index) { return index == 0; }

PortProbe Ports(std::function<bool(int)> open) {
    return {std::move(open), [](int index) { return "/dev/fake" + std::to_string(index); }};
}

TransferOutcome Finished(int result, UploadDoubt doubt) { return TransferOutcome{result, false, doubt}; }

TransferOutcome Version(const std::vector<std::uint8_t>& block) {
    TransferOutcome outcome;
    outcome.versionReady = true;
    std::copy_n(block.begin(), std::min(block.size(), outcome.versionBlock.size()), outcome.versionBlock.begin());
    return outcome;
}

}  // namespace tarven::test
