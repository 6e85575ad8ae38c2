// The boundary between a QORV host and a plugin library. This is the only
// header a host includes; nothing of the plugin's implementation shows here.
//
// A host loads the library, calls GetClassObject once to get the plugin object,
// then Open, any number of HandleRequest calls and Close. Any thread may call
// at any time, several at once: requests are served one after another (the
// request "PyInterrupt" at once, beside the one that runs), and Open and Close
// wait for the request being served. The host reaches the four virtual
// operations by their position in the table of virtual operations, so their
// order must never change.
#ifndef QORV_PLUGIN_BASE_H
#define QORV_PLUGIN_BASE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#if defined(_WIN32)
#define QORV_EXPORT __declspec(dllexport)
#else
#define QORV_EXPORT __attribute__((visibility("default")))
#endif

// Size in bytes, terminating NUL included, of the parameter buffer that a host
// passes to HandleRequest. The buffer must also hold the request's parameter
// text, so a host sending a longer text passes a larger buffer. The plugin
// never writes more than this many bytes into the buffer: an answer that does
// not fit is cut there (and NUL-terminated), while the pointer that
// HandleRequest returns still holds the whole answer.
constexpr std::size_t kQorvParameterBufferSize = 1048576;

class PluginBase {
 public:
  PluginBase();
  PluginBase(const PluginBase&) = delete;
  PluginBase& operator=(const PluginBase&) = delete;

  // 1. Runs the base Close. The object is static inside the library and only
  //    the library's unload destroys it; a host never deletes it.
  virtual ~PluginBase();

  // 2. Prepares the plugin to serve requests. `directory` names the directory
  //    in which the plugin creates its log file. Returns true when requests
  //    will be served; on false every request is answered "NONE".
  //    The base version is given the full log file path: it creates (or
  //    empties) that file and returns whether it could.
  virtual bool Open(const char* directory);

  // 3. Serves one request. `hostArgument` is not read. `functionName` selects
  //    the request. `parameters` holds the NUL-terminated parameter text on
  //    entry and the answer (cut to kQorvParameterBufferSize) on return.
  //    Returns the whole answer text, never null. The text stays the plugin's:
  //    the host neither frees nor writes it, and it is valid until the calling
  //    thread's next call into the plugin. Never throws.
  virtual const char* HandleRequest(const char* hostArgument, const char* functionName,
                                    char* parameters) = 0;

  // 4. Stops serving requests and closes the log file. Safe to call at any
  //    time and any number of times. Returns true.
  virtual bool Close();

  // Appends a printf-style message to the log file (every "%" of the result
  // becomes "~"). When the file has grown past maxLogSize it starts again with
  // a banner and a notice. Does nothing while the log is closed.
  void WriteLog(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;

  // Writes the four banner lines that head a log file after a rollover.
  void WriteBanner();

 protected:
  std::FILE* logFile;
  char* logFileName;
  std::int32_t maxLogSize;
  char logBuffer[65536];
};

// Returns the library's one plugin object; the same pointer on every call.
extern "C" QORV_EXPORT PluginBase* GetClassObject();

#endif  // QORV_PLUGIN_BASE_H
