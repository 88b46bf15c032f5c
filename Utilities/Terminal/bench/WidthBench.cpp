// Terminal::width beside glibc's wcswidth on the same lines (decoded to
// wchar_t beforehand, so only the measure is timed). Each benchmark's label
// shows the columns it counted: on emoji sequences wcswidth counts every
// scalar of a cluster, width counts what a terminal shows.
//   terminal-bench [--benchmark_min_time=0.05]

#include <Terminal/Text.hpp>

#include <benchmark/benchmark.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

// About 60 to 100 columns each.
const std::string ascii = "The quick brown fox jumps over the lazy dog; pack my box with five dozen liquor jugs.";
const std::string cjk = "日本語のテキストは全角文字で表示されます。漢字、ひらがな、カタカナ、한국어도 넓은 문자입니다";
const std::string emoji = "Deploy 🚀 done 👍🏽 team 👩‍💻 family 👨‍👩‍👧 flags 🇯🇵🇩🇪 ☺️ ok ✅ love ❤️ party "
                          "🎉🎉 "
                          "e\u0301";

std::wstring wide(const std::string& text) {
    static const bool localeSet = [] {
        if (!std::setlocale(LC_ALL, "C.UTF-8")) {
            std::fprintf(stderr, "terminal-bench: the C.UTF-8 locale is not available\n");
            std::exit(1);
        }
        return true;
    }();
    (void)localeSet;
    std::mbstate_t state{};
    const char* source = text.c_str();
    std::size_t length = std::mbsrtowcs(nullptr, &source, 0, &state);
    if (length == static_cast<std::size_t>(-1)) {
        std::fprintf(stderr, "terminal-bench: a sample is not valid UTF-8\n");
        std::exit(1);
    }
    std::wstring out(length, L'\0');
    source = text.c_str();
    state = std::mbstate_t{};
    std::mbsrtowcs(out.data(), &source, length, &state);
    return out;
}

void widthOf(benchmark::State& state, const std::string& text) {
    std::size_t columns = 0;
    for (auto _ : state) {
        columns = Terminal::width(text);
        benchmark::DoNotOptimize(columns);
    }
    state.SetLabel("columns=" + std::to_string(columns));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void wcswidthOf(benchmark::State& state, const std::string& text) {
    const std::wstring decoded = wide(text);
    int columns = 0;
    for (auto _ : state) {
        columns = wcswidth(decoded.c_str(), decoded.size());
        benchmark::DoNotOptimize(columns);
    }
    state.SetLabel("columns=" + std::to_string(columns));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void Width_ASCII(benchmark::State& state) { widthOf(state, ascii); }
void Wcswidth_ASCII(benchmark::State& state) { wcswidthOf(state, ascii); }
void Width_CJK(benchmark::State& state) { widthOf(state, cjk); }
void Wcswidth_CJK(benchmark::State& state) { wcswidthOf(state, cjk); }
void Width_Emoji(benchmark::State& state) { widthOf(state, emoji); }
void Wcswidth_Emoji(benchmark::State& state) { wcswidthOf(state, emoji); }

BENCHMARK(Width_ASCII);
BENCHMARK(Wcswidth_ASCII);
BENCHMARK(Width_CJK);
BENCHMARK(Wcswidth_CJK);
BENCHMARK(Width_Emoji);
BENCHMARK(Wcswidth_Emoji);

} // namespace
