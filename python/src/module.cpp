// atsp_solver._core: the library's public interface for Python. The package's
// __init__.py turns Python input into what these functions take (a square,
// C-contiguous int32 or int64 array) and their tuples into result objects.
//
// A solve runs on a thread of its own with the GIL released, so that the
// interpreter's other threads go on. The calling thread waits for it, taking
// the GIL back every pollSeconds to let the interpreter run its signal
// handlers: a KeyboardInterrupt (or any exception a handler raises) sets the
// search's stop flag, and is raised once the search has returned. Progress
// reports are queued by the search and handed to the Python callback on the
// calling thread as well, so the callback needs no thread of its own and an
// exception it raises stops the search the same way.
#include <atsp/atsp.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace {

// How long an interrupt may wait to be noticed, at most, in the caller's
// thread; the search notices the stop flag within one node expansion.
constexpr std::chrono::milliseconds pollInterval{20};

struct MatrixView {
    std::size_t cityCount = 0;
    std::span<const std::int32_t> narrow;  // one of the two is filled
    std::span<const std::int64_t> wide;
};

// The buffer of a square C-contiguous int32 or int64 array, not copied. The
// caller's reference keeps the array alive for the whole call.
MatrixView viewOf(const py::array& costs) {
    if (costs.ndim() != 2 || costs.shape(0) != costs.shape(1)) {
        throw py::value_error("costs must be a square matrix");
    }
    if (!(costs.flags() & py::array::c_style)) {
        throw py::value_error("costs must be C-contiguous");
    }
    MatrixView view;
    view.cityCount = static_cast<std::size_t>(costs.shape(0));
    const std::size_t cells = view.cityCount * view.cityCount;
    if (py::isinstance<py::array_t<std::int32_t>>(costs)) {
        view.narrow = {static_cast<const std::int32_t*>(costs.data()), cells};
    } else if (py::isinstance<py::array_t<std::int64_t>>(costs)) {
        view.wide = {static_cast<const std::int64_t*>(costs.data()), cells};
    } else {
        throw py::value_error("costs must be int32 or int64");
    }
    return view;
}

atsp::Problem problemOf(const MatrixView& view, const atsp::ArcFilter& filter) {
    return view.wide.data() != nullptr
               ? atsp::Problem::fromMatrix(view.cityCount, view.wide, filter)
               : atsp::Problem::fromMatrix(view.cityCount, view.narrow, filter);
}

py::tuple progressTuple(const atsp::SolveProgress& progress) {
    return py::make_tuple(progress.elapsedSeconds, progress.nodesCreated, progress.openNodes,
                          progress.bestCost, progress.lowerBound);
}

py::tuple solutionTuple(const atsp::Solution& solution) {
    const atsp::SolveStatistics& counts = solution.statistics;
    return py::make_tuple(
        solution.tour, solution.foundTour, solution.cost, solution.lowerBound, solution.optimal,
        solution.noTourExists, solution.stopped, solution.negativeStart,
        py::make_tuple(counts.nodesCreated, counts.nodesExpanded, counts.mostOpenNodes,
                       counts.arcsGiven, counts.arcsSearched, counts.searchSeconds));
}

// What the solving thread and the calling thread share.
struct Exchange {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<atsp::SolveProgress> reports;  // not yet handed to Python
    bool done = false;
    std::optional<atsp::Solution> solution;
    std::exception_ptr failure;
};

// solve(costs, forbidden, start_tour, threads, time_limit, progress,
// progress_interval) -> the solution as a tuple (see solutionTuple).
py::tuple solveMatrix(const py::array& costs, const std::optional<py::array>& forbidden,
                      const std::vector<int>& startTour, int threads, double timeLimitSeconds,
                      const py::object& progress, double progressIntervalSeconds) {
    const MatrixView view = viewOf(costs);
    atsp::ArcFilter filter;
    if (forbidden) {
        if (forbidden->ndim() != 2 || !(forbidden->flags() & py::array::c_style) ||
            !py::isinstance<py::array_t<std::uint8_t>>(*forbidden)) {
            throw py::value_error("forbidden must be a C-contiguous uint8 matrix");
        }
        filter.forbidden = {static_cast<const std::uint8_t*>(forbidden->data()),
                            static_cast<std::size_t>(forbidden->size())};
    }

    std::atomic<bool> stop{false};
    Exchange exchange;
    atsp::SolveOptions options;
    options.threads = threads;
    options.timeLimitSeconds = timeLimitSeconds;
    options.startTour = startTour;
    options.stop = &stop;
    if (!progress.is_none()) {
        options.progress = [&exchange](const atsp::SolveProgress& report) {
            {
                const std::lock_guard<std::mutex> guard(exchange.lock);
                exchange.reports.push_back(report);
            }
            exchange.changed.notify_one();
        };
        options.progressIntervalSeconds = progressIntervalSeconds;
    }

    // Made here, the GIL released: input errors are raised before any thread
    // starts, and the graph is allocated by the thread that will free it.
    atsp::Problem problem;
    {
        const py::gil_scoped_release released;
        problem = problemOf(view, filter);
    }
    std::thread solver([&] {
        try {
            atsp::Solution solution = atsp::solve(problem, options);
            const std::lock_guard<std::mutex> guard(exchange.lock);
            exchange.solution = std::move(solution);
        } catch (...) {
            const std::lock_guard<std::mutex> guard(exchange.lock);
            exchange.failure = std::current_exception();
        }
        {
            const std::lock_guard<std::mutex> guard(exchange.lock);
            exchange.done = true;
        }
        exchange.changed.notify_one();
    });

    // The first Python exception raised while the search runs; raised once
    // the solving thread has been joined, which must happen before this
    // frame's `exchange` and `stop` go.
    std::optional<py::error_already_set> raised;
    for (;;) {
        std::deque<atsp::SolveProgress> reports;
        bool done = false;
        {
            const py::gil_scoped_release released;
            std::unique_lock<std::mutex> guard(exchange.lock);
            exchange.changed.wait_for(guard, pollInterval,
                                      [&] { return exchange.done || !exchange.reports.empty(); });
            reports.swap(exchange.reports);
            done = exchange.done;
        }
        for (const atsp::SolveProgress& report : reports) {
            if (raised) {
                break;
            }
            try {
                progress(*progressTuple(report));
            } catch (py::error_already_set& error) {
                raised = std::move(error);
                stop = true;
            }
        }
        if (done) {
            break;
        }
        if (!raised && PyErr_CheckSignals() != 0) {
            raised = py::error_already_set();
            stop = true;
        }
    }
    {
        const py::gil_scoped_release released;
        solver.join();
    }
    if (raised) {
        throw std::move(*raised);
    }
    if (exchange.failure) {
        std::rethrow_exception(exchange.failure);
    }
    return solutionTuple(*exchange.solution);
}

// The problem in a file (cost matrix or TSPLIB) as an int32 matrix with 0 on
// the diagonal.
py::array_t<std::int32_t> readProblem(const std::string& fileName) {
    atsp::Problem problem;
    {
        const py::gil_scoped_release released;
        problem = atsp::Problem::fromFile(fileName);
    }
    const auto n = static_cast<py::ssize_t>(problem.cityCount());
    py::array_t<std::int32_t> matrix({n, n});
    problem.copyCostMatrix({matrix.mutable_data(), static_cast<std::size_t>(n * n)}, 0);
    return matrix;
}

}  // namespace

PYBIND11_MODULE(_core, module) {
    module.doc() = "The atsp library's solver; use the atsp_solver package, not this module.";

    static py::exception<atsp::Error> malformedFile(module, "MalformedFileError", PyExc_ValueError);
    py::register_exception_translator([](std::exception_ptr failure) {
        try {
            if (failure) {
                std::rethrow_exception(failure);
            }
        } catch (const atsp::Error& error) {
            switch (error.kind()) {
                case atsp::ErrorKind::BadInput:
                    PyErr_SetString(PyExc_ValueError, error.what());
                    return;
                case atsp::ErrorKind::MalformedFile:
                    malformedFile(error.what());
                    return;
                case atsp::ErrorKind::FileNotReadable:
                case atsp::ErrorKind::FileNotWritable:
                    PyErr_SetString(PyExc_OSError, error.what());
                    return;
            }
            PyErr_SetString(PyExc_RuntimeError, error.what());
        }
    });

    module.attr("NO_TOUR_COST") = atsp::NoTourCost;
    module.def("solve", &solveMatrix, py::arg("costs"), py::arg("forbidden"), py::arg("start_tour"),
               py::arg("threads"), py::arg("time_limit"), py::arg("progress"),
               py::arg("progress_interval"));
    module.def("read_problem", &readProblem, py::arg("file_name"));
    module.def("threads_for", &atsp::threadsFor, py::arg("threads"));
}
