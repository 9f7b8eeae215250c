// Loading a large snapshot: 10,000 objects of about 20 properties each.
#include <benchmark/benchmark.h>

#include <string>

#include "host_api.h"
#include "model.h"

namespace {

std::string large_snapshot(int objects) {
    std::string s = R"({"format":"kestro-bimvision-snapshot","version":1,"files":["big.ifc"],"objects":[)";
    for (int i = 0; i < objects; ++i) {
        if (i) s += ',';
        std::string n = std::to_string(i);
        s += R"({"id":)" + std::to_string(100000 + i) +
             R"(,"bounds":[0,0,0,1,2,3],"volume":1.5,"area":2.5,"property_sets":[)"
             R"({"name":"Atributos","properties":[{"name":"Guid","value":"3xYz)" + n +
             R"("},{"name":"Name","value":"Muro de fachada )" + n +
             R"("},{"name":"IfcEntity","value":"IfcWall"},{"name":"ObjectType","value":"Muro:Básico 300"}]},)"
             R"({"name":"Pset_WallCommon","properties":[)";
        for (int k = 0; k < 16; ++k) {
            if (k) s += ',';
            s += R"({"name":"Propiedad )" + std::to_string(k) + R"(","value":)" +
                 (k % 2 ? std::string("0.25") : std::string(R"("Texto con acentos ñ")")) + "}";
        }
        s += "]}]}";
    }
    s += "]}";
    return s;
}

void LoadTenThousandObjects(benchmark::State& state) {
    std::string text = large_snapshot(10000);
    for (auto _ : state) {
        bvs::ModelLoadResult r = bvs::Model::parse(text);
        benchmark::DoNotOptimize(r.model);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(LoadTenThousandObjects)->Unit(benchmark::kMillisecond);

void ReadEveryPropertyOfTenThousandObjects(benchmark::State& state) {
    bvs::ModelLoadResult r = bvs::Model::parse(large_snapshot(10000));
    bvs::EventLog log;
    bvs::HostApi host(log);
    host.install_model(std::shared_ptr<const bvs::Model>(std::move(r.model)));
    std::vector<bv::ObjectId> ids(host.get_all_objects(1, nullptr, 0));
    host.get_all_objects(1, ids.data(), static_cast<std::uint32_t>(ids.size()));
    std::vector<bv::Property> props;
    for (auto _ : state) {
        std::size_t seen = 0;
        for (bv::ObjectId id : ids) {
            std::uint32_t sets = host.get_property_sets(1, id, nullptr, 0);
            for (std::uint32_t j = 0; j < sets; ++j) {
                bv::PropertyGroupKey key{id, j, 0};
                std::uint32_t c = host.get_properties(1, &key, nullptr, 0);
                props.resize(c);
                if (c) host.get_properties(1, &key, props.data(), c);
                seen += c;
            }
        }
        benchmark::DoNotOptimize(seen);
    }
}
BENCHMARK(ReadEveryPropertyOfTenThousandObjects)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
