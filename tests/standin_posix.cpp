#include "standin.h"

namespace testutil {

ProgramRoots programRoots(const std::wstring& scratch) {
    ProgramRoots roots;
    roots.commonFiles = scratch + L"/Common Files";
    roots.programFiles = scratch + L"/Program Files";
    makeFolder(roots.commonFiles);
    makeFolder(roots.programFiles);
    roots.env = {{"CommonProgramFiles", roots.commonFiles}, {"ProgramFiles", roots.programFiles}};
    return roots;
}

}  // namespace testutil
