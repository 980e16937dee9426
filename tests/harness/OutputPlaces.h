// Every kind of path a result may be given, made in a folder of the test's
// own, and what became of it once a writer has had it.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

enum class OutputKind {
    ExistingFile,
    NewFile,
    SymbolicLink,
    ChainOfRelativeLinks, // a -> sub/b -> ../data/result: each relative to its own folder
    Fifo,
    CharacterDevice, // a node of /dev/null's numbers, where the test may make one
    DescriptorName,  // /dev/fd/N of a pipe
    Folder,
    Socket,
    LoopOfLinks,
};

extern const std::vector<OutputKind> EveryOutputKind;
std::ostream& operator<<(std::ostream& out, OutputKind kind);

class OutputPlace {
  public:
    OutputPlace(OutputKind kind, const std::filesystem::path& folder);
    // Lets the reader go.
    ~OutputPlace();
    OutputPlace(const OutputPlace&) = delete;
    OutputPlace& operator=(const OutputPlace&) = delete;

    const std::string& Path() const { return m_path; }
    // Why this kind could not be made here, or "".
    const std::string& CannotMake() const { return m_cannotMake; }
    // The system's reason for refusing a result, or "" for a kind that takes one.
    const std::string& Refusal() const { return m_refusal; }
    // What reached the place the result belongs: the file at the end of the
    // links, or what the FIFO's or the pipe's reader read. Nothing for the
    // device node, where nothing can be seen.
    std::optional<std::string> Received();
    // Every link still points where it pointed, the FIFO, the device, the
    // folder and the socket are still what they were, a file that was there
    // was replaced by a new one (not rewritten), and nothing else is left.
    void ExpectLeftInPlace() const;

  private:
    struct Made {
        std::filesystem::path path;
        std::filesystem::file_type type;
        std::filesystem::path linkTarget;
    };

    void MakeExistingFile(const char* name);
    void MakeLink(const char* name, const char* target);
    void MakeDeviceNode();
    void MakeSocket();
    void ReadInTheBackground(int descriptor);
    void StopReading();

    OutputKind m_kind;
    std::filesystem::path m_folder;
    std::string m_path;
    std::string m_cannotMake;
    std::string m_refusal;
    std::filesystem::path m_file; // the regular file a result ends in
    ino_t m_oldInode = 0;         // of that file, when there was one
    std::vector<Made> m_made;
    int m_ownWriter = -1; // of the FIFO or the pipe
    int m_socket = -1;
    std::thread m_reader;
    std::string m_read;
};
