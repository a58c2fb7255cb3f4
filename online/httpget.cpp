#include "online/httpget.h"

struct THTTPGet::Job {};

THTTPGet::THTTPGet(QObject* parent) : QObject(parent) {}

THTTPGet::~THTTPGet() {
  AbortFetch();
}

void THTTPGet::StartFetch() {}

void THTTPGet::AbortFetch() {}

int THTTPGet::activeWorkers() {
  return 0;
}
