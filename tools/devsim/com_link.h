// The name the updater opens: the COMn link of the per-user device namespace,
// pointing at our terminal for as long as this object lives.
#pragma once

#include <string>

namespace kronex::devsim {

class ComLink {
  public:
    // Creates the namespace folder if needed and replaces the comN link;
    // throws std::system_error.
    ComLink(int n, const std::string& target);
    // Removes the link, unless someone has pointed it elsewhere meanwhile.
    ~ComLink();
    ComLink(const ComLink&) = delete;
    ComLink& operator=(const ComLink&) = delete;

    const std::string& path() const { return path_; }

  private:
    std::string path_;
    std::string target_;
};

} // namespace kronex::devsim
