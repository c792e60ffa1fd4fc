#pragma once

#include "records/AsFound.h"

#include <QLocale>
#include <QString>

#include <optional>

namespace quillon::records {

class RecordsQuery;
struct RunDetail;

// What the certificate states beyond the run itself.
struct CertificateInputs {
    // The constants the board held before the run (asFoundConstants()); empty: not known.
    BoardConstants asFound;
    // The margin of the decision rule: the run's recorded band, else records/marginalPercent.
    double marginalPercent = 10.0;
    // Letter where it measures in US units, else A4.
    QLocale locale;
};

// The inputs for run from its store and this computer's settings; nullopt with a
// one-line reason when the store could not be read.
std::optional<CertificateInputs> certificateInputs(const RecordsQuery &query, const RunDetail &run, QString *error);

// The certificate's number: the station's name, the run's number at that station and
// the start of its id ("bench-1-000042-3f2a9c1b"). The same run always gets the same.
QString certificateNumber(const RunDetail &run);

// Draws the run's test and calibration certificate into a PDF at path (QPdfWriter):
// laid out first, then painted on as many pages as it takes, each with its number and
// "page n of N". False with a one-line reason when the file cannot be written.
bool writeCertificate(const RunDetail &run, const CertificateInputs &inputs, const QString &path, QString *error);

} // namespace quillon::records
