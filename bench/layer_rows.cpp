// The shared-memory layer's launch cost against the allocations it tracks, measured with plain
// OpenCL calls through the layers: a kernel that may reach every device allocation of its context
// indirectly, launched while one allocation comes and goes between launches. The driver must get a
// new pointer list after each change, so what grows with the allocations is the layer's work.
#include "figures.h"
#include "parts.h"

#include <cstdio>

namespace bench {

namespace {

constexpr cl_uint kIndirectDevice = 0x4201;

// A context of its own on the device with a kernel that may reach its device allocations.
struct ChurnContext {
  cl_context Context = nullptr;
  cl_command_queue Queue = nullptr;
  cl_program Program = nullptr;
  cl_kernel Kernel = nullptr;
  std::vector<void *> Live;
};

bool openChurnContext(const DirectDriver &D, ChurnContext &C) {
  cl_int Rc = CL_SUCCESS;
  C.Context = clCreateContext(nullptr, 1, &D.Device, nullptr, nullptr, &Rc);
  if (C.Context)
    C.Queue = clCreateCommandQueueWithProperties(C.Context, D.Device, nullptr, &Rc);
  const char *Source = "kernel void touch(global int *p) { if (p) p[0] = 1; }";
  if (C.Queue)
    C.Program = clCreateProgramWithSource(C.Context, 1, &Source, nullptr, &Rc);
  if (C.Program && (Rc = clBuildProgram(C.Program, 0, nullptr, nullptr, nullptr, nullptr)) ==
                       CL_SUCCESS)
    C.Kernel = clCreateKernel(C.Program, "touch", &Rc);
  cl_bool On = CL_TRUE;
  void *None = nullptr;
  if (C.Kernel)
    Rc = clSetKernelArg(C.Kernel, 0, sizeof(None), &None) |
         clSetKernelExecInfo(C.Kernel, kIndirectDevice, sizeof(On), &On);
  if (!C.Kernel || Rc != CL_SUCCESS)
    std::fprintf(stderr, "offload_bench: no kernel in a context of its own (%d)\n", Rc);
  return C.Kernel && Rc == CL_SUCCESS;
}

bool grow(const DirectDriver &D, ChurnContext &C, size_t Count) {
  cl_int Rc = CL_SUCCESS;
  while (C.Live.size() < Count) {
    void *P = D.DeviceAlloc(C.Context, D.Device, nullptr, 8, 0, &Rc);
    if (!P)
      return false;
    C.Live.push_back(P);
  }
  return true;
}

void closeChurnContext(const DirectDriver &D, ChurnContext &C) {
  for (void *P : C.Live)
    D.BlockingFree(C.Context, P);
  if (C.Kernel)
    clReleaseKernel(C.Kernel);
  if (C.Program)
    clReleaseProgram(C.Program);
  if (C.Queue)
    clReleaseCommandQueue(C.Queue);
  if (C.Context)
    clReleaseContext(C.Context);
}

bool launch(const ChurnContext &C) {
  const size_t One = 1;
  cl_event Event = nullptr;
  return clEnqueueNDRangeKernel(C.Queue, C.Kernel, 1, nullptr, &One, &One, 0, nullptr, &Event) ==
             CL_SUCCESS &&
         finish(Event);
}

// One allocation made and freed: every cached pointer list of its context is stale after it.
bool churn(const DirectDriver &D, ChurnContext &C) {
  cl_int Rc = CL_SUCCESS;
  void *P = D.DeviceAlloc(C.Context, D.Device, nullptr, 8, 0, &Rc);
  return P && D.BlockingFree(C.Context, P) == CL_SUCCESS;
}

// Median launch time in Launched, with Between done (untimed) before each launch; the two sides
// alternate so that drift hits both alike.
PairNs launchesAfter(int Reps, const DirectDriver &D, ChurnContext &ChurnedA,
                     ChurnContext &LaunchedA, ChurnContext *ChurnedB, ChurnContext &LaunchedB,
                     bool &Ok) {
  std::vector<double> A, B;
  auto Sample = [&](ChurnContext *Churned, ChurnContext &Launched, std::vector<double> &Into) {
    if (Churned)
      Ok &= churn(D, *Churned);
    uint64_t Start = nowNs();
    Ok &= launch(Launched);
    Into.push_back(static_cast<double>(nowNs() - Start));
  };
  for (int R = 0; R < Reps; ++R) {
    if (R % 2)
      Sample(ChurnedB, LaunchedB, B);
    Sample(&ChurnedA, LaunchedA, A);
    if (!(R % 2))
      Sample(ChurnedB, LaunchedB, B);
  }
  return {median(A), median(B)};
}

} // namespace

bool layerChurnRows(Scale S, const DirectDriver &D) {
  ChurnContext Small, Large;
  bool Ok = openChurnContext(D, Small) && openChurnContext(D, Large) && grow(D, Small, 10) &&
            grow(D, Large, S == Scale::Smoke ? 1000 : 10000);
  if (Ok) {
    const int Reps = scaled(S, 401, 151, 5);
    launch(Small); // the first launch of each builds its kernel: not measured
    launch(Large);
    const char *Many = S == Scale::Smoke ? "1e3" : "1e4";
    PairNs Churned = launchesAfter(Reps, D, Large, Large, &Small, Small, Ok);
    emitRow(std::string("layer.churn.") + Many,
            std::string("layer: launch, ") + Many +
                " allocations, one churned between launches (baseline: 10 allocations)",
            Churned.A, Churned.B);
    PairNs Beside = launchesAfter(Reps, D, Large, Small, nullptr, Small, Ok);
    emitRow("layer.churn.other",
            std::string("layer: launch beside churn in another context of ") + Many +
                " allocations (baseline: no churn)",
            Beside.A, Beside.B);
  }
  closeChurnContext(D, Small);
  closeChurnContext(D, Large);
  return Ok;
}

} // namespace bench
