// Opening the folder a run writes its files into: the output store of the machine the tool runs
// on, over a handle to that folder. Every file is created and renamed relative to the handle, so
// the folder cannot be swapped for another (or for a link) once it is open.
#pragma once

#include <memory>
#include <string>

#include "platform/file_store.h"

namespace torvik {

struct OutputFolderOptions {
    // Whether each file and the folder are flushed to the disk. Always on in the tool; tests
    // that run the tool many times may turn it off.
    bool flush_to_disk = true;
};

// dir empty: the current folder, taken as it is (a problem with it shows on each file as the
// file is written). Otherwise dir is made when it is missing (only the folders the path really
// names: "a/../b" makes no "a"), must be a directory and not a symbolic link as its last
// component (a trailing "/" or "/." changes nothing), and must be writable. nullptr, with the
// reason in error ("--output-dir DIR: ..."), when it is not.
std::unique_ptr<FileStore> open_output_folder(const std::string& dir, std::string& error,
                                              const OutputFolderOptions& options = {});

}  // namespace torvik
