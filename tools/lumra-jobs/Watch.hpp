#pragma once

#include <AppInstallations/ImageWatch.hpp>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The watch every process of Lumra.app keeps on its own image, with what the
// app owns outside its bundle.
namespace LumraJobs {

// What goes with the app when it is deleted, beside the standard places: the
// service's state folder (claims, settings, the socket) and its log folder.
std::vector<std::string> keeps();

// The links into the bundle a person may place, re-pointed after a move or
// an upgrade and removed after a deletion: ~/.local/bin/lumra, the command
// line on the PATH (README suggests it).
std::vector<AppInstallation::Link> links();

// Starts the image watch of this process: its jobs, keeps and links, a look
// every 2 s (simulated time), acting after 3 looks in a row find the image
// missing. `arguments` are the process's own (argv[1…]); `beforeLeaving`
// runs on the watch's queue before the process leaves. None when the
// process does not run from a signed copy of the app.
std::shared_ptr<AppInstallation::ImageWatch> watch(std::function<void()> beforeLeaving,
                                                   const std::vector<std::string>& arguments);

} // namespace LumraJobs
