// Parsing and ranking a whole catalog answer: the real 1.2 MB capture, and a 300-relay list
// built from its rows (each with its real 12-13 KB Base64 profile), the size VPN Gate serves
// on a busy day.
#include <QByteArray>
#include <QFile>
#include <QList>

#include <cstdio>
#include <cstdlib>

#include <benchmark/benchmark.h>

#include "catalog/catalog_parsing.h"
#include "catalog/profile_cleaning.h"

namespace {

QByteArray readCapture() {
    QFile file(QStringLiteral(ORLUNE_SAMPLES_DIR "/vpngate_api_iphone_2025-09-27.csv"));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "catalog_bench: the VPN Gate capture is missing\n");
        std::exit(1);
    }
    return file.readAll();
}

// The capture's banner and header, then `count` relay lines cycled from its own rows with
// host names made unique, then the closing line.
QByteArray syntheticCatalog(const QByteArray& capture, int count) {
    const QList<QByteArray> lines = capture.split('\n');
    QList<QByteArray> relays;
    for (qsizetype i = 2; i < lines.size(); ++i) {
        if (lines[i].count(',') >= 14) relays.append(lines[i]);
    }
    QByteArray body = lines[0] + '\n' + lines[1] + '\n';
    for (int i = 0; i < count; ++i) {
        body += "bench" + QByteArray::number(i) + '-' + relays[i % relays.size()] + '\n';
    }
    return body + "*\r\n";
}

void report(benchmark::State& state, const QByteArray& body, std::size_t relays) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * body.size());
    state.counters["relays"] = static_cast<double>(relays);
    state.counters["MB"] = static_cast<double>(body.size()) / 1e6;
}

void ParseAndRankRealCapture(benchmark::State& state) {
    const QByteArray body = readCapture();
    std::size_t relays = 0;
    for (auto _ : state) {
        const auto parsed = orlune::parseCatalog(body);
        relays = parsed.size();
        benchmark::DoNotOptimize(parsed.data());
    }
    report(state, body, relays);
}
BENCHMARK(ParseAndRankRealCapture)->Unit(benchmark::kMillisecond);

void ParseAndRank300Relays(benchmark::State& state) {
    const QByteArray body = syntheticCatalog(readCapture(), 300);
    std::size_t relays = 0;
    for (auto _ : state) {
        const auto parsed = orlune::parseCatalog(body);
        relays = parsed.size();
        benchmark::DoNotOptimize(parsed.data());
    }
    report(state, body, relays);
}
BENCHMARK(ParseAndRank300Relays)->Unit(benchmark::kMillisecond);

// A profile request parses the same answer and then decodes and cleans one relay's profile.
void FreshProfileFrom300Relays(benchmark::State& state) {
    const QByteArray body = syntheticCatalog(readCapture(), 300);
    const auto relays = orlune::parseCatalog(body);
    const orlune::Relay& last = relays.back();
    for (auto _ : state) {
        const QString profile = orlune::profileFromCatalog(body, last);
        benchmark::DoNotOptimize(profile.constData());
    }
    report(state, body, relays.size());
}
BENCHMARK(FreshProfileFrom300Relays)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
