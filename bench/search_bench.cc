// Search engine throughput over 1,000,000 cell records (half short texts,
// half numbers), in records per second, with one worker and with all.
//
//   ./build/bench/search_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
//
// The second argument of each benchmark is the worker cap (0: every worker).
// Workloads, and why each is hard:
//   FilterLiteral     "(?i)total": the literal-ish pattern; the cost per record is
//                     the lock, the value text (numbers formatted on the stack) and
//                     one JIT match. Budget: >= 20 M records/s on one worker.
//   FilterClass       "\d+\.5$": no literal to skip to, the matcher walks every
//                     byte of every number text.
//   FirstMatchLast    the only match is the last record, so the whole sequence is
//                     scanned: the first-match shape at its worst.
//   FilterStr         trimmed exact comparison, no regex: the floor of a text scan.
//   RangeRows         position test only: the floor of any scan (lock + compare).
#include <benchmark/benchmark.h>

#include <optional>
#include <string>
#include <vector>

#include "core/pool.h"
#include "core/search.h"

namespace qm {
namespace {

constexpr size_t kRecords = 1'000'000;

const std::vector<CellRef>& sequence() {
  static const std::vector<CellRef> seq = [] {
    static const char* const kWords[] = {"Total", "Revenue", "cost", "Subtotal", "net",
                                         "Q1 sales", "margin", "North", "units", "EUR"};
    std::vector<CellRef> out;
    out.reserve(kRecords);
    for (size_t i = 0; i < kRecords; ++i) {
      uint32_t row = static_cast<uint32_t>(i / 10 + 1);
      uint16_t col = static_cast<uint16_t>(i % 10 + 1);
      CellValue v = (i % 2 == 0)
                        ? CellValue::text(std::string(kWords[(i / 2) % 10]) + " " +
                                          std::to_string(i % 997))
                        : CellValue::number(static_cast<double>(i % 100'003) * 0.25);
      out.push_back(make_ref<CellRecord>(row, col, std::move(v)));
    }
    out.back() = make_ref<CellRecord>(kRecords / 10 + 1, 1, CellValue::text("needle"));
    return out;
  }();
  return seq;
}

template <class F>
void run(benchmark::State& state, F&& f) {
  const std::vector<CellRef>& seq = sequence();
  size_t workers = static_cast<size_t>(state.range(0));
  std::optional<pool::WorkerLimit> limit;
  if (workers != 0) limit.emplace(workers);
  size_t found = 0;
  for (auto _ : state) {
    found = f(CellView(seq));
    benchmark::DoNotOptimize(found);
  }
  state.counters["workers"] = static_cast<double>(pool::worker_count());
  state.counters["found"] = static_cast<double>(found);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * seq.size()));
}

void BM_FilterLiteral(benchmark::State& state) {
  run(state, [](CellView s) { return find_cells_by_regex("total", s)->size(); });
}

void BM_FilterClass(benchmark::State& state) {
  run(state, [](CellView s) { return find_cells_by_regex("\\d+\\.5$", s)->size(); });
}

void BM_FirstMatchLast(benchmark::State& state) {
  run(state, [](CellView s) {
    CellHit hit = *find_cell_by_regex("needle", s);
    return hit ? static_cast<size_t>(hit - s.data()) : 0;
  });
}

void BM_FilterStr(benchmark::State& state) {
  run(state, [](CellView s) { return find_cells_by_str("Total 5", s).size(); });
}

void BM_RangeRows(benchmark::State& state) {
  run(state, [](CellView s) { return find_cells_range_rows(1000, 50'000, s).size(); });
}

#define QM_WORKERS ->Arg(1)->Arg(2)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()
BENCHMARK(BM_FilterLiteral) QM_WORKERS;
BENCHMARK(BM_FilterClass) QM_WORKERS;
BENCHMARK(BM_FirstMatchLast) QM_WORKERS;
BENCHMARK(BM_FilterStr) QM_WORKERS;
BENCHMARK(BM_RangeRows) QM_WORKERS;

}  // namespace
}  // namespace qm

BENCHMARK_MAIN();
