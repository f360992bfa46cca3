#include "support/cluster.h"

#include <dirent.h>

#include <cstdlib>
#include <utility>

Cluster::Cluster(std::string dir, int nodes) : dir_(std::move(dir)), nodes_(nodes) {}

Cluster::~Cluster() {
  if (started_) (void)Stop();  // the test's verdict is already given
}

std::string Cluster::Script(const std::vector<std::string>& args) {
  const char* src = std::getenv("PIRZOL_SOURCE_DIR");
  if (src == nullptr) return "PIRZOL_SOURCE_DIR is not set";
  RunResult r = RunProgram(std::string(src) + "/scripts/dbserver", args, "", {}, "");
  if (r.status == 0) return std::string();
  std::string why = "scripts/dbserver " + args[0] + " exited " + std::to_string(r.status);
  return why + (r.err.empty() ? r.out : ":\n" + r.err);
}

std::string Cluster::Start() {
  started_ = true;
  return Script({"cluster", dir_, std::to_string(nodes_)});
}

std::string Cluster::Stop() {
  std::string why = Script({"stop", dir_});
  started_ = false;
  for (int pid : Processes()) {
    std::string cmd = ReadFile("/proc/" + std::to_string(pid) + "/cmdline");
    for (char& c : cmd) c = c == '\0' ? ' ' : c;
    why += "\nstill running: " + std::to_string(pid) + " " + cmd;
  }
  return why;
}

std::string Cluster::Kill(int k) { return Script({"node-kill", dir_, std::to_string(k)}); }

std::string Cluster::Restart(int k) { return Script({"node-restart", dir_, std::to_string(k)}); }

int Cluster::Pid(int k) const { return std::atoi(ReadFile(NodeDir(k) + "/node.pid").c_str()); }

std::vector<int> Cluster::Processes() const {
  std::vector<int> found;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return found;
  while (const dirent* e = readdir(proc)) {
    const int pid = std::atoi(e->d_name);
    if (pid <= 0) continue;
    // An ended server may stay a zombie until the machine's init reaps it;
    // a zombie's cmdline is empty, so it does not count.
    std::string cmd = ReadFile(std::string("/proc/") + e->d_name + "/cmdline");
    if (cmd.find(dir_ + "/") != std::string::npos) found.push_back(pid);
  }
  closedir(proc);
  return found;
}

std::string Status(AdminSession& node, const std::string& name) {
  Rows r = node.Query("SHOW GLOBAL STATUS LIKE '" + name + "'");
  return r.size() == 1 ? r[0][1] : std::string("(none)");
}
