#pragma once
// The device's entry in the port map: a link ports/COM<n> to the pseudo-terminal, so the
// window program lists it as COM<n>.

#include <string>

namespace devsim {

// The port map of the window programs (SettingsLocation.h): "ports" beside the executable, or
// in the per-user settings folder of an installed copy.
std::string DefaultPortsFolder();

class PortLink {
  public:
    PortLink() = default;
    ~PortLink() { Remove(); }
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    // Creates folder/COM<number> pointing at target. An entry left behind by a device that
    // is gone (its target no longer exists) is replaced; a live one is not.
    bool Create(const std::string& folder, int number, const std::string& target,
                std::string& error);
    // Removes the link if it still points at our target.
    void Remove();
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
    std::string target_;
};

} // namespace devsim
