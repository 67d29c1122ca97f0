// Shared pieces of the model tests: a scratch working folder, and a view
// that records what a model draws and answers its questions from a script.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "MainWindowModel.h"
#include "SystemFileSystem.h"

namespace tarven::test {

// A fresh folder that is the current directory while the object lives.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    std::string Path() const { return path_.string(); }
    // A file of `size` zero bytes, with `bytes` written at `offset`.
    void File(const std::string& name, std::int64_t size, std::int64_t offset = 0, const std::string& bytes = {}) const;
    void Folder(const std::string& name) const;

private:
    std::filesystem::path path_, saved_;
};

template <typename T>
std::optional<T> Take(std::deque<T>& queue) {
    if (queue.empty()) return std::nullopt;
    T front = std::move(queue.front());
    queue.pop_front();
    return front;
}

// What was drawn last, and every message and run. Its answers are taken in
// turn; an empty queue cancels the dialog (a run: result 0, cancelled).
struct FakeMainView : MainWindowView {
    MainFields fields;
    ImageKind checked{};
    std::vector<PortEntry> ports;
    std::vector<std::string> images, messages, overwriteAsked;
    int portRow = -2, imageRow = -2, aboutShown = 0, posted = 0;
    std::map<MainControl, bool> enabled;
    std::optional<MainField> focused;
    std::vector<RunRequest> runs;
    std::deque<TransferOutcome> outcomes;
    std::deque<AccessLevel> passwords;
    std::deque<OverwriteAnswer> overwrites;
    std::deque<std::string> folders;

    void ShowFields(const MainFields& f) override { fields = f; }
    void CheckKind(ImageKind kind) override { checked = kind; }
    void ShowPorts(const std::vector<PortEntry>& p, int row) override { ports = p, portRow = row; }
    void ShowImages(const std::vector<std::string>& n, int row) override { images = n, imageRow = row; }
    void EnableControl(MainControl control, bool on) override { enabled[control] = on; }
    void FocusField(MainField field) override { focused = field; }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    // When set, a run plays out here (on a real engine, say) instead of taking `outcomes`.
    std::function<TransferOutcome(const RunRequest&)> runner;

    TransferOutcome RunTransfer(const RunRequest& request) override {
        runs.push_back(request);
        if (runner) return runner(request);
        return Take(outcomes).value_or(TransferOutcome{kResultFailure, true});
    }
    std::optional<AccessLevel> AskPassword() override { return Take(passwords); }
    std::optional<OverwriteAnswer> AskOverwrite(const std::string& name) override {
        overwriteAsked.push_back(name);
        return Take(overwrites);
    }
    std::optional<std::string> AskFolder(const std::string&) override { return Take(folders); }
    void ShowAbout() override { ++aboutShown; }
    void PostUpdateCommand() override { ++posted; }
};

// Ports that open: those for which `open` answers true.
PortProbe Ports(std::function<bool(int)> open);

// The outcome of a run that ended with `result`, or with a version block.
TransferOutcome Finished(int result, UploadDoubt doubt = UploadDoubt::None);
TransferOutcome Version(const std::vector<std::uint8_t>& block);

bool OnlyComOne(int index);

// A model on a recording view, over the current directory, COM1 open; in a
// program of its own unless it is given one to share.
struct Window {
    explicit Window(std::function<bool(int)> open = OnlyComOne, ProgramState* shared = nullptr)
        : model(view, files, shared ? *shared : program, Ports(std::move(open))) {
        model.Start();
    }
    FakeMainView view;
    LocalImageFiles files{SystemFileSystem()};
    ProgramState program;
    MainWindowModel model;
};

}  // namespace tarven::test
