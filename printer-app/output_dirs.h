// Where `file:` devices may write, and how they write there.
//
// A server writes files only inside the output directories its administrator gave it
// (`server -o output-directories=DIR[:DIR]`, INKROW_OUTPUT_DIRS; STATE_DIR/output by
// default). A `file:` device names one of them, or a directory below one, and gets one
// new file per job, or names a character device listed there itself. Anything else (a
// regular file, a path outside, a link) is refused when the printer is added, through
// the web page and IPP alike, and again whenever the device is opened.
//
// The application's own `file` scheme takes the place of PAPPL's: it opens every path
// component below the output directory without following links, creates each job's
// file new (never truncating or appending to one that exists), names it after the job's
// id and a sanitised, bounded job name, and writes it as NAME.partial until the job has
// printed whole; only then does it get its real name. A job cut short (a failure, a
// cancel, a crash of the server) leaves a `.partial` file nobody mistakes for a stream.
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <vector>

namespace inkrow::app {

// Registers the application's file: device with the output directories (absolute
// paths; each is made when missing) and PAPPL's network and USB devices after it. Call
// once, before PAPPL opens or lists any device. False with *error when a directory
// cannot be made or resolved.
bool InstallOutputDevices(const std::vector<std::string>& directories, std::string* error);

// Whether a printer may use `uri`: any non-file scheme, or a file: URI inside the output
// directories as above. False with *why in words for the user.
bool IsAllowedDeviceUri(const char* uri, std::string* why);

// Names the file a job writes to on an open file: device (no-op for other devices): call
// before the job's first byte.
void NameOutputFile(pappl_device_t* device, int jobId, const char* jobName);
// Marks the job's output whole: closing the device gives the file its real name.
void MarkOutputComplete(pappl_device_t* device);

// "ID-NAME.EXT": NAME keeps letters, digits, '-', '_' and inner '.', at most 64 bytes,
// others become '_'; never starts with a dot. Exposed for tests.
std::string MakeOutputFileName(int jobId, const char* jobName, const std::string& extension);

}  // namespace inkrow::app
