#include "LinkNotifier.h"

#include <atomic>
#include <cstdio>

namespace tarven {
namespace {

// Outside any window a message can only go to the terminal.
class StderrSink final : public LinkNotifier {
public:
    void OnLinkEvent(const LinkEvent&) override {}
    void ShowMessageBox(const std::string& text, std::stop_token) override {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
};

StderrSink g_stderrSink;
std::atomic<LinkNotifier*> g_sink{nullptr};

}  // namespace

void SetLinkMessageSink(LinkNotifier* sink) { g_sink.store(sink); }

LinkNotifier* LinkMessageSink() {
    LinkNotifier* sink = g_sink.load();
    return sink ? sink : &g_stderrSink;
}

}  // namespace tarven
