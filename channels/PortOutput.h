// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <QLibrary>
#include <QString>
#include <QStringList>

namespace channels
{

// The program's side of the port library: loads it by name at the first write,
// looks up its one function and keeps both for the life of the process.
class PortOutput
{
  public:
    // Called once when the library or its function cannot be found, with a
    // report that names both and the loader's error. The default prints the
    // report to stderr and ends the process with a non-zero status.
    using FailureHandler = std::function<void(const QString& report)>;

    struct Options {
        QString library = QStringLiteral("FENWIX");
        QByteArray function = QByteArrayLiteral("FENWIX_OUT_LPT1");
        // Optional: an older or foreign library may lack it.
        QByteArray readFunction = QByteArrayLiteral("FENWIX_IN_LPT1");
        QByteArray statusFunction = QByteArrayLiteral("FENWIX_STATUS_LPT1");
        // Searched, in order, only after the platform's ordinary search failed.
        QStringList fallbackDirs = defaultFallbackDirs();
    };

    PortOutput();
    explicit PortOutput(Options options);
    PortOutput(const PortOutput&) = delete;
    PortOutput& operator=(const PortOutput&) = delete;

    void write(std::int16_t value);
    // What read() answers when the library cannot read the board back.
    static constexpr int ReadUnavailable = -2;
    // The byte the board holds (0 to 255), -1 when the library cannot know
    // it, or ReadUnavailable. Loads the library as a write does.
    int read();
    // What the board was last found to hold (0 to 255), -1 while it fails
    // (message says why) or is not known, Pending while writes are on their
    // way, or ReadUnavailable when the library cannot say or is not loaded
    // yet. Never waits for the board.
    static constexpr int Pending = -3;
    int status(QString& message);

    void setFailureHandler(FailureHandler handler) { m_onFailure = std::move(handler); }
    bool isLoaded() const { return m_function != nullptr; }
    bool hasFailed() const { return m_failed; }
    // The file the library was loaded from, in full where the loader knows it.
    QString loadedFrom() const;

    // The library folder beside the program's own bin/ folder, where both the
    // build tree and an installation keep it.
    static QStringList defaultFallbackDirs();
    static void reportAndExit(const QString& report);

  private:
    bool load();

#if defined(_WIN32) && !defined(_WIN64)
    using OutFunction = void(__stdcall*)(std::int16_t);
    using InFunction = std::int16_t(__stdcall*)();
    using StatusFunction = std::int16_t(__stdcall*)(char*, std::int32_t);
#else
    using OutFunction = void (*)(std::int16_t);
    using InFunction = std::int16_t (*)();
    using StatusFunction = std::int16_t (*)(char*, std::int32_t);
#endif

    Options m_options;
    QLibrary m_library;
    OutFunction m_function = nullptr;
    InFunction m_readFunction = nullptr;
    StatusFunction m_statusFunction = nullptr;
    bool m_failed = false;
    FailureHandler m_onFailure = &PortOutput::reportAndExit;
};

} // namespace channels
