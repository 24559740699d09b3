#pragma once

class CCliPort;
struct CCliOptions;

/// `serve`: serves the supply on `port` until a signal; the exit status.
int RunServe(const CCliOptions& options, const CCliPort& port);
