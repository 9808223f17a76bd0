// Popular libraries that ask what compiled code is: a program whose pydantic models (a bare
// computed_field, validate_call on a function and a method, field and model validators) serve a
// FastAPI app through its test client answers as CPython running its sources does. The packages
// come from the set-up's .venv/test-packages, on PYTHONPATH for both.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

const std::map<std::string, std::string> appFiles = {
    {"models.py", R"PY(from functools import cached_property

from pydantic import (BaseModel, ValidationError, computed_field, field_validator,
                      model_validator, validate_call)


class Box(BaseModel):
    width: float
    height: float
    label: str = "box"

    @computed_field
    @property
    def area(self) -> float:
        return self.width * self.height

    @computed_field
    @cached_property
    def perimeter(self) -> float:
        return 2 * (self.width + self.height)

    @field_validator("label")
    @classmethod
    def tidy(cls, value):
        return value.strip().lower()

    @model_validator(mode="after")
    def not_flat(self):
        if self.width == 0 or self.height == 0:
            raise ValueError("a box is not flat")
        return self


@validate_call
def scale(box: Box, factor: int = 2) -> Box:
    return Box(width=box.width * factor, height=box.height * factor, label=box.label)


class Shelf:
    @validate_call
    def place(self, count: int, name: str = "shelf") -> str:
        return f"{name}:{count}"


def errors(make):
    try:
        return make()
    except ValidationError as error:
        return [(e["type"], e["loc"], e["msg"]) for e in error.errors()]
)PY"},
    {"api.py", R"PY(from fastapi import Depends, FastAPI, HTTPException
from fastapi.testclient import TestClient

from models import Box, scale

app = FastAPI()


def factor(times: int = 2) -> int:
    return times


@app.post("/scale")
def scaled(box: Box, times: int = Depends(factor)) -> Box:
    return scale(box, times)


@app.get("/boxes/{width}")
async def square(width: float, label: str = "square") -> Box:
    if width < 0:
        raise HTTPException(status_code=404, detail="no such box")
    return Box(width=width, height=width, label=label)


def answers():
    client = TestClient(app)
    for response in (client.post("/scale?times=3", json={"width": 1, "height": 2, "label": " A "}),
                     client.post("/scale", json={"width": 0, "height": 2}),
                     client.get("/boxes/2.5?label=Sq"), client.get("/boxes/-1"),
                     client.get("/boxes/x")):
        print(response.status_code, response.json())
    schema = client.get("/openapi.json").json()
    box = schema["components"]["schemas"]["Box-Output"]
    print(sorted(schema["paths"]), sorted(box["properties"]))
)PY"},
    {"main.py", R"PY(import models
import api


def main():
    box = models.Box(width=2, height=3, label="  Big ")
    print(box, box.model_dump())
    print(models.Box.model_json_schema(mode="serialization")["properties"].keys())
    print(models.errors(lambda: models.Box(width=0, height=1)))
    print(models.errors(lambda: models.Box(width="x", height=1)))
    print(models.scale(box), models.scale({"width": 1, "height": 1}, "3"))
    print(models.errors(lambda: models.scale(box, "many")))
    print(models.Shelf().place("4"), models.errors(lambda: models.Shelf().place("x")))
    api.answers()


if __name__ == "__main__":
    main()
)PY"},
};

TEST(PopularLibraries, PydanticAndFastApiAnswerAsUnderPython) {
  const fs::path packages = buildPython().parent_path().parent_path() / "test-packages";
  ASSERT_TRUE(fs::exists(packages / "pydantic"))
      << packages << " lacks pydantic: run scripts/setup";
  Project project("popular", appFiles);
  const Outcome build = project.build({"main", "main.py", "models.py", "api.py"});
  ASSERT_EQ(build.status, 0) << build.all();

  const std::string path = "PYTHONPATH=" + packages.string();
  const Outcome expected =
      run({"/usr/bin/env", path, buildPython().string(), "main.py"}, project.dir());
  ASSERT_EQ(expected.status, 0) << expected.all();
  const Outcome actual =
      run({"/usr/bin/env", path, (project.buildDir() / "main").string()}, project.dir());
  EXPECT_EQ(actual.status, 0) << actual.all();
  EXPECT_EQ(actual.out, expected.out);
  EXPECT_EQ(actual.err, expected.err);
  // The cases reached the app: a computed field, a refused model and a path's error.
  EXPECT_NE(actual.out.find("area=6.0 perimeter=10.0"), std::string::npos) << actual.out;
  EXPECT_NE(actual.out.find("422 {'detail': [{'type': 'value_error'"), std::string::npos);
  EXPECT_NE(actual.out.find("404 {'detail': 'no such box'}"), std::string::npos);
}

} // namespace
} // namespace quorvex::e2e
