#pragma once

// What the window benchmarks share: a dataset of generated rows kept for the whole
// program (the same rows in every run), and their main (bench/benchmain.h).
#include "bench/benchmain.h"
#include "dataaccess/mydataset.h"

#include <QRandomGenerator>
#include <benchmark/benchmark.h>

#include <functional>

namespace bench {

// `rows` rows of `fields`, row i made by `row(i, rng)` from a generator seeded with `seed`.
// The caller keeps the dataset (a function-local static): making it is not measured.
inline quillon::TMyDataSet *generatedDataSet(QList<quillon::FieldDef> fields, int rows, quint32 seed,
                                             const std::function<QVariantList(int, QRandomGenerator &)> &row)
{
    quillon::DataPacket p;
    p.fields = std::move(fields);
    p.rows.reserve(rows);
    QRandomGenerator rng(seed);
    for (int i = 0; i < rows; ++i)
        p.rows.append(row(i, rng));
    auto *ds = new quillon::TMyDataSet;
    ds->SetData(std::move(p));
    return ds;
}

} // namespace bench
