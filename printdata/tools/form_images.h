// Pieces shared by the form-picture generator's drawing files.
#ifndef PLENWICK_PRINTDATA_TOOLS_FORM_IMAGES_H
#define PLENWICK_PRINTDATA_TOOLS_FORM_IMAGES_H

#include <QDir>
#include <QImage>
#include <QString>

// Writes img in `format`; says why on standard error when it cannot.
bool Save(const QImage& img, const QString& path, const char* format);

// The motor-vehicle (both variants) and used-car form pictures.
bool SaveVehicleForms(const QDir& out);

#endif
