// What the four exports of libVornel.so do; Vornel.cpp only gives them their
// C names, so the tests can call the same code without loading the library.
#ifndef PLENWICK_PRINTDATA_VORNELENTRY_H
#define PLENWICK_PRINTDATA_VORNELENTRY_H

#include <QString>

// Steps of one job after the application object and the log exist: choose
// the builder, run it, log request and answer. Empty answer: no builder.
QString PostAndRecv(const QString& request, int printType, const QString& kind);

// `answer` receives a NUL-terminated UTF-8 buffer to be released with
// VornelDataFree; a null `answer` runs the job and drops the answer. Always 0.
int VornelPostAndRecvEx(const char* request, int printType, const char* kind, int unused, char** answer);
void VornelDataFree(char* data);
// Three bytes "1.0", no terminator. Null is ignored.
void VornelGetDllVersion(char* buffer);
// Three bytes "1.0", no terminator, only when `size` holds them. Always 0.
int VornelFnVersion(char* buffer, int size);
// Undoes what the calls installed in the process (the log's message handler
// and its state), for the library's unloading. Nothing when a call created the
// application object: the library then stays loaded for good.
void VornelUnload();

#endif
