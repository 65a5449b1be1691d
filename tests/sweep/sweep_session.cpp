#include "sweep_session.h"

#include "fake_driver_run.h"
#include "fakecl_client.h"
#include "host_interop.h"
#include "host_runtime.h"
#include "host_tool.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <unistd.h>

namespace {

// The image's two target regions, a declare-target variable, a function pointer entry (not
// through the layer) and the program data record: "vadd" (out, in, n) is a teams region whose
// kernel info record says that n goes by value in 4 bytes; "grid" (data, n) is a loop region with
// plain 8-byte scalars. Through the layer the kernels have one more, hidden, argument.
std::vector<uint8_t> readFile(const char *Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(In), {});
}

std::vector<uint8_t> imageBytes(SweepImage Image) {
  if (Image == SweepImage::FakeNative)
    return readFile(SWEEP_NATIVE_IMAGE);
  if (Image == SweepImage::LayerSpirv)
    return readFile(SWEEP_LAYER_IMAGE);
  const uint32_t Magic = 0x07230203;
  std::vector<uint8_t> Bytes(sizeof(Magic));
  std::memcpy(Bytes.data(), &Magic, sizeof(Magic));
  std::vector<uint8_t> Module = readFile(SWEEP_FAKE_MODULE);
  Bytes.insert(Bytes.end(), Module.begin(), Module.end());
  Bytes.push_back(0);
  return Bytes;
}

constexpr int64_t N = 256;

// out[i] = 2 * in[i] + 1 over the first n elements.
void vaddBody(const fakecl_launch *L, void *) {
  if (L->num_args < 3 || L->args[0].kind != FAKECL_ARG_POINTER ||
      L->args[1].kind != FAKECL_ARG_POINTER || L->args[2].size != 4)
    return;
  int32_t Count;
  std::memcpy(&Count, L->args[2].value, 4);
  auto *Out = static_cast<int32_t *>(L->args[0].pointer);
  auto *In = static_cast<const int32_t *>(L->args[1].pointer);
  for (int32_t I = 0; I < Count; ++I)
    Out[I] = 2 * In[I] + 1;
}

// data[i] += 3 over the first n elements.
void gridBody(const fakecl_launch *L, void *) {
  if (L->num_args < 2 || L->args[0].kind != FAKECL_ARG_POINTER || L->args[1].size != 8)
    return;
  int64_t Count;
  std::memcpy(&Count, L->args[1].value, 8);
  auto *Data = static_cast<int32_t *>(L->args[0].pointer);
  for (int64_t I = 0; I < Count; ++I)
    Data[I] += 3;
}

// The driver calls recorded so far, without the loader's own.
std::vector<std::string> driverCalls(const fakecl_control_v1 &Fake) {
  std::vector<std::string> Calls;
  for (const std::string &Line : splitLines(fakeCallLog(Fake)))
    if (Line.rfind("loader:", 0) != 0)
      Calls.push_back(Line.substr(0, Line.find('(')));
  return Calls;
}

enum class Outcome { Ok, Fail, Wrong };

struct Step {
  std::string Name;
  std::vector<std::string> Needs;
  std::function<Outcome()> Run;
};

Outcome status(bool Succeeded) { return Succeeded ? Outcome::Ok : Outcome::Fail; }
Outcome checked(bool Succeeded, bool Right) {
  return !Succeeded ? Outcome::Fail : Right ? Outcome::Ok : Outcome::Wrong;
}

// Everything one device's part of the session keeps between steps.
struct DeviceSession {
  HostImage Image;
  int64_t HostValue = 0;
  void *DeviceIn = nullptr, *HostBuffer = nullptr, *SharedOut = nullptr, *Aligned = nullptr;
  void *Realloced = nullptr;
  InteropRecord *Interop = nullptr;
  std::vector<int32_t> In = std::vector<int32_t>(N), Grid = std::vector<int32_t>(N);
};

struct SessionState {
  explicit SessionState(HostPlugin &Plugin) : P(Plugin) {}
  HostPlugin &P;
  HostTool *Tool = nullptr;
  int32_t NumDevices = 0;
  SweepImage Image = SweepImage::FakeSpirv;
  BinaryDescriptor Descriptor = {};
  std::vector<std::unique_ptr<DeviceSession>> Devices;
  std::vector<Step> Steps;
  uint64_t FunctionPairs[4] = {0x1000, 0x2000, 0x1100, 0x2100};
};

void *entryOf(DeviceSession &D, const char *Name) {
  if (D.Image.Table)
    for (const OffloadEntry *E = D.Image.Table->EntriesBegin; E != D.Image.Table->EntriesEnd; ++E)
      if (E->name && std::strcmp(E->name, Name) == 0)
        return E->address;
  return nullptr;
}

void addDeviceSteps(SessionState &S, int32_t Id) {
  S.Devices.push_back(std::make_unique<DeviceSession>());
  DeviceSession &D = *S.Devices.back();
  HostPlugin &P = S.P;
  std::string Dev = std::to_string(Id);
  auto name = [&Dev](const char *What) { return std::string(What) + "/" + Dev; };
  for (int64_t I = 0; I < N; ++I)
    D.In[I] = static_cast<int32_t>(I * 7 + Id);

  S.Steps.push_back({name("init_device"), {"number_of_devices"},
                     [&P, Id] { return status(P.init_device(Id) == 0); }});
  S.Steps.push_back({name("load_binary"), {name("init_device")}, [&S, &P, &D, Id] {
    std::vector<uint8_t> Bytes = imageBytes(S.Image);
    D.Image.Bytes.assign(Bytes.begin(), Bytes.end());
    D.Image.region("grid").region("vadd").variable("value", &D.HostValue, 8);
    if (S.Image != SweepImage::LayerSpirv) {
      D.Image.Names.push_back("fn");
      D.Image.Entries.push_back(
          {reinterpret_cast<void *>(0x1000), &D.Image.Names.back()[0], 0, 8, 0});
    }
    OffloadEntry *Begin = D.Image.Entries.data();
    for (OffloadEntry &E : D.Image.Entries)
      if (E.size == 0 && !E.address)
        E.address = &E;
    D.Image.Descriptor = {D.Image.Bytes.data(), D.Image.Bytes.data() + D.Image.Bytes.size(), Begin,
                          Begin + D.Image.Entries.size()};
    if (!P.is_valid_binary(&D.Image.Descriptor))
      return Outcome::Wrong;
    D.Image.Table = P.load_binary(Id, &D.Image.Descriptor);
    return status(D.Image.Table != nullptr);
  }});
  // The declare-target variable: write a value through its device entry and read it back.
  S.Steps.push_back({name("variable"), {name("load_binary")}, [&P, &D, Id] {
    void *Value = entryOf(D, "value");
    int64_t Written = 42 + Id, Again = 0;
    bool Done = Value && P.data_submit(Id, Value, &Written, 8) == 0 &&
                P.data_retrieve(Id, &Again, Value, 8) == 0;
    return checked(Done, Again == Written);
  }});
  S.Steps.push_back({name("alloc_device"), {name("init_device")}, [&P, &D, Id] {
    D.DeviceIn = P.data_alloc(Id, N * 4, D.In.data(), 0);
    return status(D.DeviceIn && P.data_submit(Id, D.DeviceIn, D.In.data(), N * 4) == 0);
  }});
  S.Steps.push_back({name("alloc_host"), {name("init_device")}, [&P, &D, Id] {
    D.HostBuffer = P.data_alloc(Id, N * 4, nullptr, 1);
    return status(D.HostBuffer && P.data_submit(Id, D.HostBuffer, D.In.data(), N * 4) == 0);
  }});
  S.Steps.push_back({name("alloc_shared"), {name("init_device")}, [&P, &D, Id] {
    D.SharedOut = P.data_alloc(Id, N * 4, nullptr, 2);
    return status(D.SharedOut != nullptr);
  }});
  S.Steps.push_back({name("alloc_aligned"), {name("init_device")}, [&P, &D, Id] {
    D.Aligned = P.data_aligned_alloc(Id, 256, 64, 3);
    return checked(D.Aligned != nullptr, reinterpret_cast<uintptr_t>(D.Aligned) % 256 == 0);
  }});
  // Reallocation keeps the contents of the old block; a failed one leaves the old block the
  // host's.
  S.Steps.push_back({name("realloc"), {name("init_device")}, [&P, &D, Id] {
    int32_t Pattern[4] = {1, 2, 3, 4}, Back[4] = {};
    D.Realloced = P.data_alloc(Id, 16, nullptr, 0);
    if (!D.Realloced || P.data_submit(Id, D.Realloced, Pattern, 16) != 0)
      return Outcome::Fail;
    void *New = P.data_realloc(Id, D.Realloced, 64, 0);
    if (!New)
      return Outcome::Fail;
    D.Realloced = New;
    bool Done = P.data_retrieve(Id, Back, New, 16) == 0;
    return checked(Done, std::memcmp(Back, Pattern, 16) == 0);
  }});
  S.Steps.push_back({name("function_ptr_map"), {name("load_binary")}, [&S, &P, Id] {
    return status(P.set_function_ptr_map(Id, 2, S.FunctionPairs) == 0);
  }});
  S.Steps.push_back({name("teams_launch"),
                     {name("load_binary"), name("alloc_device"), name("alloc_shared")},
                     [&S, &D, Id] {
    int32_t Count = N;
    std::vector<void *> Args = {D.SharedOut, D.DeviceIn, &Count};
    std::vector<ptrdiff_t> Offsets = {0, 0, INT64_MAX};
    bool Done = runTargetRegion(S.P, S.Tool, Id, entryOf(D, "vadd"), Args.data(), Offsets.data(),
                                3, 4, 64, "sweep.cpp:1") == 0;
    std::vector<int32_t> Out(N);
    Done = Done && S.P.data_retrieve(Id, Out.data(), D.SharedOut, N * 4) == 0;
    bool Right = true;
    for (int64_t I = 0; I < N; ++I)
      Right &= Out[I] == 2 * D.In[I] + 1;
    return checked(Done, Right);
  }});
  S.Steps.push_back({name("loop_launch"), {name("load_binary"), name("alloc_host")},
                     [&S, &D, Id] {
    LoopDescriptor Loops = {1, 0, {{0, N - 1, 1}, {}, {}}};
    std::vector<void *> Args = {D.HostBuffer, reinterpret_cast<void *>(N)};
    std::vector<ptrdiff_t> Offsets = {0, INT64_MAX};
    bool Done = runTargetRegion(S.P, S.Tool, Id, entryOf(D, "grid"), Args.data(), Offsets.data(),
                                2, 0, 0, "sweep.cpp:2", &Loops) == 0;
    Done = Done && S.P.data_retrieve(Id, D.Grid.data(), D.HostBuffer, N * 4) == 0;
    bool Right = true;
    for (int64_t I = 0; I < N; ++I)
      Right &= D.Grid[I] == D.In[I] + 3;
    return checked(Done, Right);
  }});
  // The kernel-arguments record and a manifested allocation.
  S.Steps.push_back({name("launch_kernel"),
                     {name("load_binary"), name("loop_launch"), name("alloc_aligned")},
                     [&P, &D, Id] {
    void *Manifest[] = {D.Aligned};
    if (P.manifest_data_for_region(Id, entryOf(D, "grid"), Manifest, 1) != 0)
      return Outcome::Fail;
    std::vector<void *> Args = {D.HostBuffer, reinterpret_cast<void *>(N)};
    std::vector<ptrdiff_t> Offsets = {0, INT64_MAX};
    KernelArgs Record{};
    Record.NumArgs = 2;
    Record.NumTeams[0] = 2;
    Record.ThreadLimit[0] = 32;
    bool Done = P.launch_kernel(Id, entryOf(D, "grid"), Args.data(), Offsets.data(), &Record) == 0;
    std::vector<int32_t> Out(N);
    Done = Done && P.data_retrieve(Id, Out.data(), D.HostBuffer, N * 4) == 0;
    bool Right = true;
    for (int64_t I = 0; I < N; ++I)
      Right &= Out[I] == D.Grid[I] + 3;
    return checked(Done, Right);
  }});
  S.Steps.push_back({name("queries"), {name("alloc_device")}, [&P, &D, Id] {
    DataAllocInfo Info{};
    void *Ptr = D.DeviceIn;
    // The range predicate asks the driver; its failure value is 0.
    bool Done = P.get_data_alloc_info(Id, 1, &Ptr, &Info) == 0 &&
                P.is_accessible_addr_range(Id, D.DeviceIn, N * 4) == 1;
    bool Right = Info.Base == reinterpret_cast<uintptr_t>(D.DeviceIn) && Info.Offset == 0 &&
                 Info.Extent == N * 4 && P.get_device_from_ptr(D.DeviceIn) == Id;
    return checked(Done, Right);
  }});
  S.Steps.push_back({name("interop"), {name("init_device")}, [&P, &D, Id] {
    D.Interop = P.create_interop(Id, 1);
    if (!D.Interop)
      return Outcome::Fail;
    int32_t Rc = 0;
    bool Right = interopSlot(D.Interop, -8, Rc) != 0 && Rc == 0;
    bool Done = P.use_interop(Id, D.Interop) == 0 && P.flush_queue(D.Interop) == 0 &&
                P.sync_barrier(D.Interop) == 0 && P.async_barrier(D.Interop) == 0;
    return checked(Done, Right);
  }});
  // Clean-up steps run whenever the device started, so that nothing the host owns is left behind
  // by a step that failed half-way.
  S.Steps.push_back({name("release_interop"), {name("init_device")}, [&P, &D, Id] {
    return status(!D.Interop || interopDestroy(P, Id, D.Interop) == 0);
  }});
  S.Steps.push_back({name("synchronize"), {name("init_device")},
                     [&P, Id] { return status(P.synchronize(Id, nullptr) == 0); }});
  for (auto [What, Slot] : {std::pair<const char *, void **>{"delete_device", &D.DeviceIn},
                            {"delete_host", &D.HostBuffer},
                            {"delete_shared", &D.SharedOut},
                            {"delete_aligned", &D.Aligned},
                            {"delete_realloced", &D.Realloced}}) {
    S.Steps.push_back({name(What), {name("init_device")}, [&P, Slot, Id] {
      bool Done = !*Slot || P.data_delete(Id, *Slot) == 0;
      if (Done)
        *Slot = nullptr;
      return status(Done);
    }});
  }
  // What a failed release or delete left behind is still the host's: it tries once more at the
  // end, and that must work.
  S.Steps.push_back({name("retry_cleanup"), {name("init_device")}, [&P, &D, Id] {
    bool Done = !D.Interop || interopDestroy(P, Id, D.Interop) == 0;
    for (void **Slot : {&D.DeviceIn, &D.HostBuffer, &D.SharedOut, &D.Aligned, &D.Realloced})
      if (*Slot && P.data_delete(Id, *Slot) == 0)
        *Slot = nullptr;
    return status(Done && !D.DeviceIn && !D.HostBuffer && !D.SharedOut && !D.Aligned &&
                  !D.Realloced);
  }});
}

void buildSteps(SessionState &S) {
  S.Steps.push_back({"register_lib", {}, [&S] {
    S.P.init_ompt(S.Tool && S.Tool->Result ? &S.Tool->State : nullptr);
    return status(S.P.register_lib(&S.Descriptor) == 0);
  }});
  S.Steps.push_back({"number_of_devices", {"register_lib"}, [&S] {
    bool Right = S.P.number_of_devices() == S.NumDevices;
    S.P.init_requires(0);
    return Right ? Outcome::Ok : Outcome::Fail;
  }});
  for (int32_t Id = 0; Id < S.NumDevices; ++Id)
    addDeviceSteps(S, Id);
}

void runSteps(SessionState &S, const fakecl_control_v1 &Fake) {
  std::map<std::string, bool> Succeeded;
  for (Step &St : S.Steps) {
    size_t First = driverCalls(Fake).size();
    bool Ready = true;
    for (const std::string &Need : St.Needs)
      Ready &= Succeeded[Need];
    const char *Text = "skip";
    if (Ready) {
      Outcome O = St.Run();
      Succeeded[St.Name] = O == Outcome::Ok;
      Text = O == Outcome::Ok ? "ok" : O == Outcome::Fail ? "fail" : "wrong";
    }
    std::printf("step %s %s %zu %zu\n", St.Name.c_str(), Text, First, driverCalls(Fake).size());
    std::fflush(stdout);
  }
}

} // namespace

ChildResult runSweepSession(const SweepSession &Session, const std::string &Faults,
                            unsigned TimeoutSeconds) {
  EnvironmentList Env = Session.Env;
#ifdef LAYER_PATH
  if (Session.Image == SweepImage::LayerSpirv)
    Env.emplace_back("OPENCL_LAYERS", LAYER_PATH);
#endif
  return runWithFakeDriver(
      {FAKECL_PATH, PLUGIN_PATH, Session.Layout, Faults, Env},
      [&](HostPlugin &P, const fakecl_control_v1 &Fake) {
        alarm(TimeoutSeconds); // a hang ends the child with SIGALRM
        fakecl::Client Client(FAKECL_PATH);
        Client.setKernelBody("vadd", vaddBody);
        Client.setKernelBody("grid", gridBody);
        HostTool Tool;
        std::string Error;
        if (Session.WithTool && !loadHostTool(TOOL_PATH, Tool, Error)) {
          std::fprintf(stderr, "tool: %s\n", Error.c_str());
          return 93;
        }
        SessionState S(P);
        S.Tool = Session.WithTool ? &Tool : nullptr;
        S.NumDevices = Session.NumDevices;
        S.Image = Session.Image;
        buildSteps(S);
        runSteps(S, Fake);
        // Shutdown: the last unregistration releases everything the plugin kept.
        size_t First = driverCalls(Fake).size();
        int32_t Rc = P.unregister_lib(&S.Descriptor);
        std::vector<std::string> Calls = driverCalls(Fake);
        std::printf("step unregister_lib %s %zu %zu\n", Rc == 0 ? "ok" : "fail", First,
                    Calls.size());
        unloadHostPlugin(P);
        if (Session.WithTool)
          finalizeHostTool(Tool);
        for (const std::string &Call : Calls)
          std::printf("call %s\n", Call.c_str());
        std::printf("live %zu", Fake.live_objects("all"));
        for (const char *Kind : {"context", "queue", "program", "kernel", "event", "usm"})
          std::printf(" %s=%zu", Kind, Fake.live_objects(Kind));
        std::printf("\n");
        return 0;
      });
}

SessionReport parseSessionReport(const std::string &Stdout) {
  SessionReport Report;
  for (const std::string &Line : splitLines(Stdout)) {
    std::istringstream In(Line);
    std::string Kind;
    In >> Kind;
    if (Kind == "step") {
      StepReport Step;
      In >> Step.Name >> Step.Outcome >> Step.FirstCall >> Step.EndCall;
      Report.Steps.push_back(Step);
    } else if (Kind == "call") {
      std::string Function;
      In >> Function;
      Report.Calls.push_back(Function);
    } else if (Kind == "live") {
      In >> Report.LiveObjects;
      Report.Live = Line.substr(5);
    }
  }
  return Report;
}
