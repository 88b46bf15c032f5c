#include "Print.hpp"

#include <Platform/SimulatedHost.hpp>

namespace Launchctl {

namespace {

const char* yesNo(bool value) { return value ? "true" : "false"; }

} // namespace

std::string describe(const Platform::Launchd::Job& job, const std::filesystem::path& root) {
    namespace Host = Platform::SimulatedHost;
    std::string program = Host::macPath(job.programArguments.front(), root);
    std::string log = Host::macPath(Platform::Launchd::logFile(job.domain, job.label, root), root);
    bool daemon = job.domain == Platform::Launchd::systemDomain;

    std::string text = job.domain + "/" + job.label + " = {\n";
    text += "\tactive count = " + std::string(job.pid ? "1" : "0") + "\n";
    text += "\tstate = " + std::string(job.pid ? "running" : "not running") + "\n";
    if (job.pid) text += "\tpid = " + std::to_string(*job.pid) + "\n";
    text += "\tproperties = {\n";
    text += "\t\t\"Executable\" => \"" + program + "\"\n";
    text += "\t\t\"KeepAlive\" => " + std::string(yesNo(job.keepAlive)) + "\n";
    text += "\t\t\"RunAtLoad\" => " + std::string(yesNo(job.runAtLoad)) + "\n";
    text += "\t}\n\n";
    text += "\tpath = " + Host::macPath(job.definition, root) + "\n";
    text += "\ttype = " + std::string(daemon ? "LaunchDaemon" : "LaunchAgent") + "\n";
    text += "\tdomain = " + job.domain + "\n";
    text += "\truns = " + std::to_string(job.runs) + "\n";
    text += "\tlast exit code = " +
            (job.lastExitStatus ? std::to_string(*job.lastExitStatus) : std::string("(never exited)")) + "\n\n";
    text += "\tprogram = " + program + "\n";
    text += "\targuments = {\n";
    text += "\t\t" + program + "\n";
    for (size_t at = 1; at < job.programArguments.size(); ++at) text += "\t\t" + job.programArguments[at] + "\n";
    text += "\t}\n\n";
    text += "\tstdout path = " + log + "\n";
    text += "\tstderr path = " + log + "\n";
    text += "\tenvironment = {\n";
    text += "\t\tXPC_SERVICE_NAME => " + job.label + "\n";
    text += "\t}\n";
    text += "}\n";
    return text;
}

} // namespace Launchctl
