-- wrk script for the post benchmark: every request posts a score under a name no other request
-- uses, and the answers that said the score was stored are counted, so the benchmark can look
-- for each of them in the table afterwards.
threads = {}
counter = 0
acknowledged = 0

function setup(thread)
  thread:set("tag", #threads + 1)
  table.insert(threads, thread)
end

function init(args)
  prefix = "b" .. tag .. "n"
end

function request()
  counter = counter + 1
  return wrk.format("GET", "/cgi-bin/pipshift.cgi?name=" .. prefix .. counter ..
                    "&date=1/1/26&score=" .. (counter % 801))
end

function response(status, headers, body)
  if status == 200 then
    acknowledged = acknowledged + 1
  end
end

function done(summary, latency, requests)
  local total = 0
  for _, t in ipairs(threads) do
    total = total + t:get("acknowledged")
  end
  io.write("acknowledged " .. total .. "\n")
end
