# One case of bench/peers.sh: a random tree and a character simulated on it
# with ape, written as a varnic data file and control file, then fitted with
# ape's ace (type "discrete", model "ARD"), timed.
#
#   Rscript peers.R TIPS STATES SEED STEM
#
# writes STEM.txt (data file) and STEM.ctl (control file) and prints, one per
# line, "key value": ace's whole fit in processor seconds, its count of likelihood
# evaluations, the time of one evaluation in milliseconds, its -lnL, and its
# rates in varnic's parameter order (q01 q02 ... q10 q12 ...), comma
# separated.
#
#   Rscript peers.R at STEM RATES
#
# prints ace's -lnL on the same tree and character at the given rates (in
# varnic's order), as "ace_minus_lnL_at value".

suppressPackageStartupMessages(library(ape))

args <- commandArgs(trailingOnly = TRUE)

# ace with its optimisers wrapped, to count the evaluations of its
# likelihood (nlminb for the fit, nlm for the standard errors) and to keep
# the objective for timing one evaluation. With stop_at_objective, ace stops
# as soon as it hands its objective to nlminb.
counter <- new.env()
counter$n <- 0
counter$objective <- NULL
wrapped_ace <- function(stop_at_objective = FALSE) {
  counted_nlminb <- function(start, objective, ...) {
    counter$objective <- objective
    if (stop_at_objective) stop("objective kept")
    stats::nlminb(start, function(p) { counter$n <- counter$n + 1; objective(p) }, ...)
  }
  counted_nlm <- function(f, p, ...) {
    stats::nlm(function(q) { counter$n <- counter$n + 1; f(q) }, p, ...)
  }
  counted <- ace
  wrappers <- new.env(parent = environment(ace))
  wrappers$nlminb <- counted_nlminb
  wrappers$nlm <- counted_nlm
  environment(counted) <- wrappers
  counted
}

if (args[1] == "at") {
  saved <- readRDS(paste0(args[2], ".rds"))
  ours <- as.numeric(strsplit(args[3], ",")[[1]])
  k <- nlevels(saved$x)
  p <- numeric(max(saved$index, na.rm = TRUE))
  o <- 0
  for (i in seq_len(k)) for (j in seq_len(k)) if (i != j) {
    o <- o + 1
    p[saved$index[i, j]] <- ours[o]
  }
  try(wrapped_ace(stop_at_objective = TRUE)(saved$x, saved$phy, type = "discrete", model = "ARD"), silent = TRUE)
  # ace's objective is the deviance, -2 lnL.
  cat(sprintf("ace_minus_lnL_at %.6f\n", counter$objective(p) / 2))
  quit(save = "no")
}

tips <- as.integer(args[1])
k <- as.integer(args[2])
seed <- as.integer(args[3])
stem <- args[4]

set.seed(seed)
labels <- LETTERS[seq_len(k)]
# Branch lengths uniform on (0.01, 0.5), rounded to 10 decimals, so that
# the data file (plain decimals) and ace see the same numbers.
phy <- rtree(tips, br = runif, min = 0.01, max = 0.5)
phy$edge.length <- round(phy$edge.length, 10)
# Rates low enough that the character keeps some signal across the tree.
rate_range <- if (k == 2) c(0.05, 0.3) else c(0.02, 0.1)
# Every state must occur at the tips: ace fits only the states it sees.
repeat {
  rates <- runif(k * (k - 1), rate_range[1], rate_range[2])
  x <- suppressWarnings(rTraitDisc(phy, model = "ARD", k = k, rate = rates, states = labels))
  if (all(labels %in% x)) break
}
x <- factor(x, levels = labels)

# The data file: one line per node but the root, "name ancestor length
# state"; internal nodes are n<number>, the root is "root".
node_name <- function(v) {
  if (v <= tips) phy$tip.label[v] else if (v == tips + 1) "root" else paste0("n", v)
}
lines <- character(nrow(phy$edge))
for (e in seq_len(nrow(phy$edge))) {
  child <- phy$edge[e, 2]
  text <- sprintf("%s %s %.10f", node_name(child), node_name(phy$edge[e, 1]), phy$edge.length[e])
  if (child <= tips) text <- paste(text, as.integer(x[phy$tip.label[child]]) - 1L)
  lines[e] <- text
}
writeLines(c(sprintf("%d 1", tips), lines), paste0(stem, ".txt"))
writeLines(c(sprintf("datafile %s.txt", basename(stem)), sprintf("outfile %s.results", basename(stem))),
           paste0(stem, ".ctl"))

# Processor seconds, as the varnic side measures: on a shared machine they
# measure the program, not the load.
cpu <- function(timing) timing[["user.self"]] + timing[["sys.self"]]

fit_seconds <- cpu(system.time(fit <- suppressWarnings(wrapped_ace()(x, phy, type = "discrete", model = "ARD"))))
saveRDS(list(phy = phy, x = x, index = fit$index.matrix), paste0(stem, ".rds"))

# One evaluation of ace's objective at its optimum, repeated for a second
# or more.
objective <- counter$objective
once <- cpu(system.time(objective(fit$rates)))
repeats <- max(3L, as.integer(ceiling(1 / max(once, 1e-4))))
evaluation_ms <- 1000 * cpu(system.time(for (r in seq_len(repeats)) objective(fit$rates))) / repeats

ours <- c()
for (i in seq_len(k)) for (j in seq_len(k)) if (i != j) ours <- c(ours, fit$rates[fit$index.matrix[i, j]])

cat(sprintf("ace_fit_seconds %.3f\n", fit_seconds))
cat(sprintf("ace_evaluations %d\n", counter$n))
cat(sprintf("ace_evaluation_ms %.4f\n", evaluation_ms))
cat(sprintf("ace_minus_lnL %.6f\n", -fit$loglik))
cat(sprintf("ace_rates %s\n", paste(sprintf("%.17g", ours), collapse = ",")))
