#pragma once

#include <QString>

namespace quillon::records {

struct RunDetail;

// Draws the one-page test and calibration certificate of a run into a PDF at path
// (QPdfWriter). False with a one-line reason when the file cannot be written.
bool writeCertificate(const RunDetail &run, const QString &path, QString *error);

} // namespace quillon::records
