// Internal forms of the file operations the pipelines need beyond their
// exported shapes.
#pragma once

#include <cstdio>
#include <string>

#include "qor/error.h"

namespace qor::file {

// InitWriteFile that also reports the path it opened (the dated name under
// the rename rule), so a failed run removes what it wrote and nothing else.
int OpenTarget(const char* path, ErrorInfo* errorRecord, FILE** fileOut, int targetExist,
               bool inPlace, std::string* opened);

// |path| followed by today's local date as YYYYMMDD.
std::string DatedName(const char* path);

// The directory part of |path| ("." when it has none).
std::string DirectoryOf(const std::string& path);

// Flushes a directory's entries to the disk: true when it could.
bool SyncDirectory(const std::string& directory);

}  // namespace qor::file
